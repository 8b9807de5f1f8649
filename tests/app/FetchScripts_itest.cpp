// The script-based fetch with the real php and perl: small stand-in scripts for each
// outcome, and the shipped grabber and converter on a real guide.
#include "base/Paths.h"
#include "base/Settings.h"
#include "support/AppFixture.h"

#include <QDir>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

class FetchScripts : public AppFixture, public ::testing::Test {
protected:
    FetchScripts()
    {
        slc.setView(&view);
        controller.awakeFromNib();
        rec.calls.clear();
        Settings::setValue("provider", "UK");
    }

    // Stand-in scripts in a program folder of their own. The converter records its
    // arguments, one per line, in "arguments" beside the day files.
    void useScripts(const QByteArray &grabber, const QByteArray &converter)
    {
        ASSERT_TRUE(writeFile(program.path() + "/getdat.php", "<?php\n" + grabber));
        ASSERT_TRUE(writeFile(program.path() + "/dat2tgd.pl",
            "open(my $a, '>', 'arguments') or die; print $a \"$0\\n\", map { \"$_\\n\" } @ARGV;\n"
                + converter));
        Paths::setProgramFolder(program.path());
    }
    QStringList converterArguments() const
    {
        const QByteArray text = readFile(Paths::applicationSupportFolder() + "/arguments");
        return QString::fromUtf8(text).split('\n', Qt::SkipEmptyParts);
    }

    QTemporaryDir program;
    PlaceholderView view { QDate::currentDate().toString("ddMMyyyy") };
};

const QString kToday = QDate::currentDate().toString("yyyyMMdd");
const QByteArray kWritesToday = "mkdir 'output'; open(my $d, '>', 'output/"
    + kToday.toLatin1() + ".tgd') or die;\n"
    "print $d \"Seven\\t" + QDate::currentDate().toString("yyyy-MM-dd").toLatin1()
    + " 20:00\\t30\\tNews\\t\\t\\t\\tN\\n\";\n";

struct Outcome {
    const char *name;
    QByteArray grabber, converter;
    const char *daysToLoad; // nullptr: unset
    bool ok;
    QString log;
    QStringList syslog;
    QList<double> progress;
    QStringList arguments; // after the script path; empty: the converter did not run
};

class FetchScriptsEnd : public FetchScripts, public ::testing::WithParamInterface<Outcome> {};

TEST_P(FetchScriptsEnd, LogButtonsAndRescan)
{
    const Outcome &c = GetParam();
    useScripts(c.grabber, c.converter);
    if (c.daysToLoad)
        Settings::setValue("daysToLoad", c.daysToLoad);
    ASSERT_TRUE(writeFile(out() + "/" + kToday + ".tgd", "old day\tfile\n"));

    EXPECT_EQ(fetch(), c.ok);
    EXPECT_EQ(log.text(), c.log);
    for (const QString &line : c.syslog)
        EXPECT_TRUE(syslog.lines().contains(line)) << line.toStdString();
    EXPECT_EQ(view.progress, c.progress);
    const QStringList args = converterArguments();
    if (c.arguments.isEmpty()) {
        EXPECT_TRUE(args.isEmpty());
    } else {
        ASSERT_FALSE(args.isEmpty());
        EXPECT_EQ(args.first(), program.path() + "/dat2tgd.pl");
        EXPECT_EQ(args.mid(1), c.arguments);
    }
    const QStringList finished = c.ok ? QStringList { "reloadData NoSave", "beep" } : QStringList();
    EXPECT_EQ(rec.calls, kButtonsOff + QStringList { "writeOutData" } + finished + kButtonsOn);
    if (c.ok) {
        // The rescan is the last word on the list, however late the grabber's output came.
        ASSERT_EQ(view.last.size(), 1u);
        EXPECT_EQ(view.last.front()->rawDate, kToday + ".tgd");
    } else if (!c.progress.isEmpty()) {
        ASSERT_EQ(view.last.size(), 1u);
        EXPECT_EQ(view.last.front()->file, "Loading...");
    }
}

INSTANTIATE_TEST_SUITE_P(Scripts, FetchScriptsEnd,
    ::testing::Values(
        Outcome { "Success", "echo \"Fetching 02\\n\"; flush(); usleep(200000); echo '.'; flush();"
                             " usleep(200000); echo \".\\n\";",
            kWritesToday, "5", true,
            "Starting...\nNumber of channels: 02\nDownloading finished.\n"
            "Converting to TGD format... Done\n",
            {}, { 0.0, 50.0, 100.0 }, { "-oldtgd", "-days", "5" } },
        Outcome { "DaysToLoadUnsetEndsAfterDays", "echo \"Fetching 20\\n..........\";",
            kWritesToday, nullptr, true,
            "Starting...\nNumber of channels: 20\nDownloading finished.\n"
            "Converting to TGD format... Done\n",
            {}, { 50.0 }, { "-oldtgd", "-days" } },
        Outcome { "GrabberFails", "echo \"Fetching 04\\n..\"; exit(3);", kWritesToday, "5", false,
            "Starting...\nNumber of channels: 04\n Grabber failure\n", { "Task1 failed." },
            { 50.0 }, {} },
        Outcome { "GrabberWithoutCountFails", "fwrite(STDERR, \"no source\\n\"); exit(1);",
            kWritesToday, nullptr, false, "Starting...\n Grabber failure\n", { "Task1 failed." },
            {}, {} },
        Outcome { "ConverterFails", "echo 'Fetching 01 .';", "exit 2;", "5", false,
            "Starting...\nNumber of channels: 01\nDownloading finished.\n"
            "Converting to TGD format... Converting Failed\n",
            { "Task2 failed." }, { 100.0 }, { "-oldtgd", "-days", "5" } }),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(FetchScripts, MissingGrabberIsAGrabberFailure)
{
    Paths::setProgramFolder(program.path());
    EXPECT_FALSE(fetch());
    EXPECT_EQ(log.text(), "Starting...\n Grabber failure\n");
    EXPECT_TRUE(converterArguments().isEmpty());
}

TEST_F(FetchScripts, ShippedScriptsFetchARealGuideEndToEnd)
{
    Paths::setProgramFolder(QStringLiteral(PALLARO_BINARY_DIR "/share/pallaro"));
    const QString guide = Paths::applicationSupportFolder() + "/moved.xml";
    ASSERT_TRUE(writeFile(guide,
        guideMovedTo(PALLARO_TEST_DATA "/guide/xmltv/tv_augment_automatic_type_5-2.xml",
            QDate(2016, 7, 2), QDate::currentDate())));
    ASSERT_TRUE(writeFile(Paths::applicationSupportFolder() + "/getdat.ini",
        "[source]\nurl = file://" + guide.toUtf8() + "\n"));
    Settings::setValue("daysToLoad", "3");

    EXPECT_TRUE(fetch()) << log.text().toStdString();
    EXPECT_TRUE(log.text().endsWith("Downloading finished.\nConverting to TGD format... Done\n"))
        << log.text().toStdString();
    EXPECT_FALSE(view.progress.isEmpty());
    QStringList days;
    for (int d = 0; d < 3; ++d)
        days << QDate::currentDate().addDays(d).toString("yyyyMMdd") + ".tgd";
    EXPECT_EQ(outputFiles({ "*.tgd" }), days);
    EXPECT_EQ(view.last.size(), 3u);
    for (const QString &day : days)
        EXPECT_TRUE(readFile(out() + "/" + day).contains("\tN\n")) << day.toStdString();
}

} // namespace
