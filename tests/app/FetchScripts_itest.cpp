// The script-based fetch with the real php and perl: stand-in scripts for a failing
// converter, and the shipped grabber and converter on a real guide.
#include "app/RunRecords.h"
#include "base/Clock.h"
#include "base/Paths.h"
#include "base/Settings.h"
#include "support/AppFixture.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace
{

class FetchScripts : public AppFixture, public ::testing::Test
{
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
    PlaceholderView view { Clock::today().toString("ddMMyyyy") };
};

TEST_F(FetchScripts, ConverterFailureSaysWhyAndShowsTheDaysOnDisk)
{
    useScripts("echo 'Fetching 01 .';",
        "print STDERR \"dat2tgd: a first line\\ndat2tgd: why\\n\"; exit 2;");
    Settings::setValue("daysToLoad", "5");
    const QString today = Clock::today().toString("yyyyMMdd") + ".tgd";
    ASSERT_TRUE(writeFile(out() + "/" + today, "old day\tfile\n"));

    EXPECT_FALSE(fetch());
    EXPECT_EQ(log.text(),
        "Starting...\nNumber of channels: 01\nDownloading finished.\n"
        "Converting to TGD format... Converting Failed\ndat2tgd: why\n");
    EXPECT_TRUE(syslog.lines().contains("Task2 failed."));
    EXPECT_EQ(view.progress, QList<double> { 100.0 });
    EXPECT_EQ(converterArguments(),
        (QStringList { program.path() + "/dat2tgd.pl", "-oldtgd", "-days", "5" }));
    EXPECT_EQ(rec.calls, kButtonsOff + QStringList { "writeOutData" } + kButtonsOn);
    ASSERT_EQ(view.last.size(), 1u);
    EXPECT_EQ(view.last.front()->rawDate, today);
    EXPECT_EQ(readFile(out() + "/" + today), "old day\tfile\n");
    EXPECT_EQ(controller.lastOutcome(RunRecords::Job::Fetch).cause, "dat2tgd: why");
}

TEST_F(FetchScripts, MissingGrabberIsAGrabberFailure)
{
    Paths::setProgramFolder(program.path());
    EXPECT_FALSE(fetch());
    EXPECT_EQ(log.text(), "Starting...\n Grabber failure\n");
    EXPECT_TRUE(converterArguments().isEmpty());
    const std::optional<RunOutcome> recorded = RunRecords::read(RunRecords::Job::Fetch);
    ASSERT_TRUE(recorded);
    EXPECT_FALSE(recorded->ok);
    EXPECT_TRUE(recorded->cause.startsWith("The grabber getdat.php failed with exit status "))
        << recorded->cause.toStdString();
}

TEST_F(FetchScripts, ShippedScriptsFetchARealGuideEndToEnd)
{
    Paths::setProgramFolder(QStringLiteral(PALLARO_BINARY_DIR "/share/pallaro"));
    const QString guide = Paths::applicationSupportFolder() + "/moved.xml";
    ASSERT_TRUE(writeFile(guide,
        guideMovedTo(PALLARO_TEST_DATA "/guide/xmltv/tv_augment_automatic_type_5-2.xml",
            QDate(2016, 7, 2), Clock::today())));
    ASSERT_TRUE(writeFile(Paths::applicationSupportFolder() + "/getdat.ini",
        "[source]\nurl = file://" + guide.toUtf8() + "\n"));
    // No "daysToLoad": the converter keeps every day, so that its own clock (the script runs
    // at the machine's) decides nothing; the rescan then drops the days before today.

    EXPECT_TRUE(fetch()) << log.text().toStdString();
    EXPECT_TRUE(log.text().endsWith("Downloading finished.\nConverting to TGD format... Done\n"))
        << log.text().toStdString();
    EXPECT_FALSE(view.progress.isEmpty());
    const QStringList days = outputFiles({ "*.tgd" });
    ASSERT_GE(days.size(), 3);
    for (int d = 0; d < days.size(); ++d)
        EXPECT_EQ(days[d], Clock::today().addDays(d).toString("yyyyMMdd") + ".tgd");
    EXPECT_EQ(view.last.size(), size_t(days.size()));
    for (const QString &day : days)
        EXPECT_TRUE(readFile(out() + "/" + day).contains("\tN\n")) << day.toStdString();
}

} // namespace
