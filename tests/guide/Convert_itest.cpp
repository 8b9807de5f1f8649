// `pallaro --convert` run as a separate program on real guides, its day XMLTV files checked
// by xmllint against the XMLTV DTD.
#include "support/TempHome.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <unistd.h>

namespace
{

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
        r.status = runPallaro(
            QStringList { "--convert" } + arguments, environment(zone), &r.out, &r.err);
        return r;
    }
    QStringList environment(const char *zone = "Australia/Sydney") const
    {
        return { "HOME=" + home.path(), "XDG_DATA_HOME=" + home.path() + "/.local/share",
            "XDG_CONFIG_HOME=" + home.path() + "/.config", QStringLiteral("TZ=") + zone };
    }
    QStringList dayFiles(const QString &folder, const char *pattern = "*.tgd") const
    {
        return QDir(out.path() + "/" + folder).entryList({ pattern }, QDir::Files);
    }
    // Runs xmllint against the XMLTV DTD on every day XMLTV file; answers the number checked.
    int validateDayFiles(const QString &folder)
    {
        int n = 0;
        for (const QString &name : dayFiles(folder, "*.xml")) {
            QProcess lint;
            lint.start("xmllint",
                { "--noout", "--dtdvalid", "/usr/share/xmltv/xmltv.dtd",
                    out.path() + "/" + folder + "/" + name });
            EXPECT_TRUE(lint.waitForFinished(30000));
            const QString report = QString::fromLocal8Bit(lint.readAllStandardError());
            EXPECT_EQ(lint.exitCode(), 0) << name.toStdString() << "\n" << report.toStdString();
            EXPECT_FALSE(report.contains("error")) << report.toStdString();
            ++n;
        }
        return n;
    }
    TempHome home;
    QTemporaryDir out;
};

} // namespace

// A real guide whose programmes overlap and give their times without an offset.
TEST_F(ConvertTest, WritesDayFilesThatValidate)
{
    const Outcome r = convert({ guidePath("overlap.xml"), out.path() + "/days", "--xml" });
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.isEmpty()) << r.err.toStdString();
    const QStringList tgd = dayFiles("days");
    EXPECT_FALSE(tgd.isEmpty());
    int lines = 0;
    for (const QString &name : tgd) {
        EXPECT_TRUE(QRegularExpression("^\\d{8}\\.tgd$").match(name).hasMatch());
        const QList<QByteArray> fileLines = readFile(out.path() + "/days/" + name).split('\n');
        EXPECT_TRUE(fileLines.last().isEmpty()) << "every line ends in LF";
        for (qsizetype i = 0; i + 1 < fileLines.size(); ++i, ++lines) {
            const QList<QByteArray> fields = fileLines.at(i).split('\t');
            EXPECT_EQ(fields.size(), 8) << fileLines.at(i).toStdString();
            EXPECT_FALSE(fileLines.at(i).contains('\r'));
            // The line's start day is the file's day.
            EXPECT_EQ(fields.value(1).left(10).replace("-", ""), name.left(8).toLatin1());
        }
    }
    EXPECT_TRUE(r.out.startsWith(
        QString("%1 programmes written to %2 day files").arg(lines).arg(tgd.size())))
        << r.out.toStdString();
    EXPECT_EQ(validateDayFiles("days"), tgd.size());
}

TEST_F(ConvertTest, RefusesWithOneLineReasonAndWritesNothing)
{
    ASSERT_TRUE(writeFile(out.path() + "/notv.xml", "<?xml version=\"1.0\"?><rss><item/></rss>"));
    ASSERT_TRUE(writeFile(out.path() + "/locked.xml", "<tv/>"));
    QFile::setPermissions(out.path() + "/locked.xml", QFileDevice::WriteOwner);
    std::vector<std::pair<QString, const char *>> cases = {
        { guidePath("broken.xml"), "is not well-formed XML (line 9:" },
        { guidePath("empty-file_natgeo.no_2019-11-23.xml"), "is empty" },
        { guidePath("does-not-exist.xml"), "no such file" },
        { out.path(), "not a file" },
        { out.path() + "/notv.xml", "is not an XMLTV guide" },
    };
    if (geteuid() != 0) // root reads every file
        cases.emplace_back(out.path() + "/locked.xml", "pallaro: cannot read ");
    for (const auto &[input, reason] : cases) {
        SCOPED_TRACE(input.toStdString());
        const Outcome r = convert({ input, out.path() + "/days" });
        EXPECT_NE(r.status, 0);
        EXPECT_TRUE(r.out.isEmpty()) << r.out.toStdString();
        EXPECT_EQ(r.err.count('\n'), 1) << r.err.toStdString();
        EXPECT_TRUE(r.err.startsWith("pallaro: ") && r.err.contains(reason)) << r.err.toStdString();
        EXPECT_FALSE(QDir(out.path() + "/days").exists());
    }
}

TEST_F(ConvertTest, NamedTimeZonesAreLeftOutAndAnEmptyGuideWritesNothing)
{
    // "MST" is no numeric offset: such programmes have no start and reach no day file.
    Outcome r = convert({ guidePath("Movie21-accents.xml"), out.path() + "/d" });
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("13 programmes left out")) << r.out.toStdString();
    r = convert({ guidePath("empty.xml"), out.path() + "/days", "--xml" });
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.startsWith("0 programmes written to 0 day files"));
    EXPECT_TRUE(QDir(out.path() + "/days").entryList(QDir::Files).isEmpty());
}

TEST_F(ConvertTest, UsesTheStoredSettingsAndTheLocalZone)
{
    const QString guide = out.path() + "/nsw.xml";
    // 18:00 Sydney time on 2 April 2023, daylight saving just ended (+1000), in UTC.
    writeFile(guide,
        "<tv><programme start=\"20230402080000 +0000\" stop=\"20230402083000 +0000\" "
        "channel=\"WIN\"><title>A</title></programme>"
        "<programme start=\"20230402080000 +0000\" stop=\"20230402083000 +0000\" "
        "channel=\"NBN\"><title>B</title></programme></tv>");
    ASSERT_EQ(runPallaro({ "--set", "location=Northern NSW (North)" }, environment(), nullptr), 0);
    ASSERT_EQ(convert({ guide, out.path() + "/a", "--xml" }).status, 0);
    EXPECT_EQ(readFile(out.path() + "/a/20230402.tgd"), "8\t2023-04-02 18:00\t30\tB\t []\t\t\tN\n");
    EXPECT_EQ(validateDayFiles("a"), 1);
    ASSERT_EQ(runPallaro({ "--set", "useOldStyleNames=YES" }, environment(), nullptr), 0);
    ASSERT_EQ(convert({ guide, out.path() + "/b" }, "UTC").status, 0);
    EXPECT_EQ(
        readFile(out.path() + "/b/20230402.tgd"), "NBN\t2023-04-02 08:00\t30\tB\t []\t\t\tN\n");
}
