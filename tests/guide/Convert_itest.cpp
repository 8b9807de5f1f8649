// `pallaro --convert` run as a separate program on real guides, its day XMLTV files checked
// by xmllint against the XMLTV DTD.
#include "support/TempHome.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <unistd.h>

namespace
{

const char kDtd[] = "/usr/share/xmltv/xmltv.dtd";

QString guidePath(const QString &name)
{
    return QStringLiteral(PALLARO_TEST_DATA "/guide/xmltv/") + name;
}

struct Outcome {
    int status = -1;
    QString out, err;
};

class ConvertTest : public ::testing::Test
{
protected:
    Outcome convert(const QStringList &arguments, const char *zone = "Australia/Sydney")
    {
        Outcome r;
        r.status = runPallaro(QStringList { QStringLiteral("--convert") } + arguments,
            { QStringLiteral("HOME=") + home.path(),
                QStringLiteral("XDG_DATA_HOME=") + home.path() + "/.local/share",
                QStringLiteral("XDG_CONFIG_HOME=") + home.path() + "/.config",
                QStringLiteral("TZ=") + QLatin1String(zone) },
            &r.out, &r.err);
        return r;
    }
    // Runs xmllint on every day XMLTV file; answers the number checked.
    int validateDayFiles(const QString &folder)
    {
        int n = 0;
        for (const QString &name :
            QDir(folder).entryList({ QStringLiteral("*.xml") }, QDir::Files)) {
            QProcess lint;
            lint.start(QStringLiteral("xmllint"),
                { QStringLiteral("--noout"), QStringLiteral("--dtdvalid"), QLatin1String(kDtd),
                    folder + "/" + name });
            EXPECT_TRUE(lint.waitForFinished(30000));
            const QString report = QString::fromLocal8Bit(lint.readAllStandardError());
            EXPECT_EQ(lint.exitCode(), 0) << name.toStdString() << "\n" << report.toStdString();
            EXPECT_FALSE(report.contains(QStringLiteral("error"))) << report.toStdString();
            ++n;
        }
        return n;
    }
    TempHome home;
    QTemporaryDir out;
};

} // namespace

class ConvertRealGuide : public ConvertTest, public ::testing::WithParamInterface<const char *>
{
};

TEST_P(ConvertRealGuide, WritesDayFilesThatValidate)
{
    const QString folder = out.path() + "/days";
    const Outcome r = convert({ guidePath(QString::fromLatin1(GetParam())), folder, "--xml" });
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.isEmpty()) << r.err.toStdString();
    const QStringList tgd = QDir(folder).entryList({ QStringLiteral("*.tgd") }, QDir::Files);
    EXPECT_FALSE(tgd.isEmpty());
    EXPECT_TRUE(r.out.contains(QStringLiteral("written to %1 day files").arg(tgd.size())))
        << r.out.toStdString();
    int lines = 0;
    for (const QString &name : tgd) {
        EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d{8}\\.tgd$")).match(name).hasMatch());
        const QList<QByteArray> fileLines = readFile(folder + "/" + name).split('\n');
        EXPECT_TRUE(fileLines.last().isEmpty()) << "every line ends in LF";
        for (qsizetype i = 0; i + 1 < fileLines.size(); ++i) {
            const QList<QByteArray> fields = fileLines.at(i).split('\t');
            EXPECT_EQ(fields.size(), 8) << fileLines.at(i).toStdString();
            EXPECT_FALSE(fileLines.at(i).contains('\r'));
            // The line's start day is the file's day.
            EXPECT_EQ(fields.value(1).left(10).replace("-", ""), name.left(8).toLatin1());
            ++lines;
        }
    }
    EXPECT_TRUE(r.out.startsWith(QString::number(lines) + QStringLiteral(" programmes")))
        << r.out.toStdString();
    EXPECT_EQ(validateDayFiles(folder), tgd.size());
}

INSTANTIATE_TEST_SUITE_P(Guides, ConvertRealGuide,
    ::testing::Values("natgeo.no_2022-08-27.xml", "nickelodeon.no_2021-12-20.xml",
        "max.no_2021-03-28.xml", "example.xml", "comments.xml", "amp.xml", "test.xml",
        "test_livre.xml", "dups.xml", "overlap.xml", "tv_augment_automatic_type_5-2.xml",
        "sort.xml"));

struct Refusal {
    const char *file; // under the guide data folder, or a special name below
    const char *reason;
};

class ConvertRefuses : public ConvertTest, public ::testing::WithParamInterface<Refusal>
{
};

TEST_P(ConvertRefuses, WithOneLineReason)
{
    QString input = guidePath(QString::fromLatin1(GetParam().file));
    if (QString::fromLatin1(GetParam().file) == QLatin1String("<folder>"))
        input = out.path();
    if (QString::fromLatin1(GetParam().file) == QLatin1String("<no tv>")) {
        input = out.path() + "/notv.xml";
        writeFile(input, "<?xml version=\"1.0\"?><rss><item/></rss>");
    }
    const QString folder = out.path() + "/days";
    const Outcome r = convert({ input, folder });
    EXPECT_NE(r.status, 0);
    EXPECT_TRUE(r.out.isEmpty()) << r.out.toStdString();
    EXPECT_EQ(r.err.count(QLatin1Char('\n')), 1) << r.err.toStdString();
    EXPECT_TRUE(r.err.startsWith(QStringLiteral("pallaro: ")));
    EXPECT_TRUE(r.err.contains(QLatin1String(GetParam().reason))) << r.err.toStdString();
    EXPECT_FALSE(QDir(folder).exists()) << "nothing is written for a refused file";
}

INSTANTIATE_TEST_SUITE_P(Broken, ConvertRefuses,
    ::testing::Values(Refusal { "broken.xml", "is not well-formed XML (line 9:" },
        Refusal { "empty-file_natgeo.no_2019-11-23.xml", "is empty" },
        Refusal { "does-not-exist.xml", "no such file" }, Refusal { "<folder>", "not a file" },
        Refusal { "<no tv>", "is not an XMLTV guide" }));

TEST_F(ConvertTest, UnreadableFileIsRefused)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "root reads every file";
    const QString input = out.path() + "/locked.xml";
    writeFile(input, "<tv/>");
    QFile::setPermissions(input, QFileDevice::WriteOwner);
    const Outcome r = convert({ input, out.path() + "/days" });
    EXPECT_NE(r.status, 0);
    EXPECT_TRUE(r.err.startsWith(QStringLiteral("pallaro: cannot read "))) << r.err.toStdString();
}

TEST_F(ConvertTest, NamedTimeZonesAreLeftOutAndCounted)
{
    // "MST" is no numeric offset: such programmes have no start and reach no day file.
    const Outcome r
        = convert({ guidePath(QStringLiteral("Movie21-accents.xml")), out.path() + "/d" });
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("13 programmes left out"))) << r.out.toStdString();
}

TEST_F(ConvertTest, EmptyGuideWritesNothingAndSucceeds)
{
    const Outcome r
        = convert({ guidePath(QStringLiteral("empty.xml")), out.path() + "/days", "--xml" });
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.startsWith(QStringLiteral("0 programmes written to 0 day files")));
    EXPECT_TRUE(QDir(out.path() + "/days").entryList(QDir::Files).isEmpty());
}

TEST_F(ConvertTest, UsesTheCurrentLocationAndNameSetting)
{
    const QString guide = out.path() + "/nsw.xml";
    writeFile(guide,
        "<tv><programme start=\"20230405180000 +1000\" stop=\"20230405183000 +1000\" "
        "channel=\"WIN\"><title>A</title></programme>"
        "<programme start=\"20230405180000 +1000\" stop=\"20230405183000 +1000\" "
        "channel=\"NBN\"><title>B</title></programme></tv>");
    ASSERT_EQ(runPallaro({ "--set", "location=Northern NSW (North)" },
                  { QStringLiteral("HOME=") + home.path(),
                      QStringLiteral("XDG_CONFIG_HOME=") + home.path() + "/.config" },
                  nullptr),
        0);
    Outcome r = convert({ guide, out.path() + "/a" });
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(readFile(out.path() + "/a/20230405.tgd"),
        QByteArray("8\t2023-04-05 18:00\t30\tB\t []\t\t\tN\n"));
    ASSERT_EQ(runPallaro({ "--set", "useOldStyleNames=YES" },
                  { QStringLiteral("HOME=") + home.path(),
                      QStringLiteral("XDG_CONFIG_HOME=") + home.path() + "/.config" },
                  nullptr),
        0);
    r = convert({ guide, out.path() + "/b" });
    EXPECT_EQ(readFile(out.path() + "/b/20230405.tgd"),
        QByteArray("NBN\t2023-04-05 18:00\t30\tB\t []\t\t\tN\n"));
}

TEST_F(ConvertTest, UtcGuideAcrossTheAprilChangeKeepsLocalTimes)
{
    const QString guide = out.path() + "/week.xml";
    QByteArray xml = "<tv>";
    // 18:00 local every day from 30 March to 5 April 2023, written in UTC.
    for (int day = 30; day <= 36; ++day) {
        const int d = day > 31 ? day - 31 : day;
        const int month = day > 31 ? 4 : 3;
        const int utcHour = (month == 3 || d == 1) ? 7 : 8; // +1100 until 2 April 03:00
        const QByteArray start = QStringLiteral("2023%1%2%3")
                                     .arg(month, 2, 10, QLatin1Char('0'))
                                     .arg(d, 2, 10, QLatin1Char('0'))
                                     .arg(utcHour, 2, 10, QLatin1Char('0'))
                                     .toLatin1();
        xml += "<programme start=\"" + start + "0000 +0000\" stop=\"" + start
            + "3000 +0000\" channel=\"ABC\"><title>News</title></programme>";
    }
    writeFile(guide, xml + "</tv>");
    Outcome r = convert({ guide, out.path() + "/syd", "--xml" });
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    const QStringList days = QDir(out.path() + "/syd").entryList({ "*.tgd" }, QDir::Files);
    ASSERT_EQ(days.size(), 7);
    for (const QString &day : days) {
        const QByteArray line = readFile(out.path() + "/syd/" + day);
        EXPECT_TRUE(line.contains(" 18:00\t30\t")) << day.toStdString() << " " << line.data();
    }
    EXPECT_EQ(validateDayFiles(out.path() + "/syd"), 7);
    r = convert({ guide, out.path() + "/utc" }, "UTC");
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(readFile(out.path() + "/utc/20230402.tgd"),
        QByteArray("2\t2023-04-02 08:00\t30\tNews\t []\t\t\tN\n"));
}
