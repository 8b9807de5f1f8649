// The built pallaro run as a user runs it, without a window: --reload, and --upload to the
// software recorder (--pvr-sim).
#include "base/Clock.h"
#include "guide/TGDFile.h"
#include "support/TempHome.h"
#include "ui/KeywordFile.h"

#include <QDate>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <iostream>

namespace
{

QString day(int days)
{
    return Clock::today().addDays(days).toString("yyyyMMdd");
}

class Headless : public ::testing::Test
{
protected:
    QString output() const { return home.supportFolder() + "/output"; }
    void addDay(int days, const QByteArray &bytes)
    {
        ASSERT_TRUE(writeFile(output() + "/" + day(days) + ".tgd", bytes));
    }
    // Runs pallaro (the home is inherited); answers the exit status.
    int run(const QStringList &arguments)
    {
        QString err;
        const int status = runPallaro(arguments, {}, &out, &err, 120000);
        std::cerr << err.toStdString();
        return status;
    }
    TempHome home;
    QString out;
};

int runPvrSim(const QStringList &arguments, QString *out)
{
    QProcess p;
    p.start(qEnvironmentVariable("PALLARO_PVR_SIM"), arguments);
    if (!p.waitForFinished(30000))
        return -1;
    *out = QString::fromLocal8Bit(p.readAllStandardOutput());
    return p.exitCode();
}

TEST_F(Headless, ReloadMarksTheDayFilesFromTheRuleFileAndFailsOnAnUnreadableOne)
{
    const QByteArray week = readFile(PALLARO_TEST_DATA "/keywords/20070313.tgd");
    addDay(0, week);
    addDay(1, week);
    auto rule = std::make_shared<KeywordRule>();
    rule->keywords = QStringList { "Lost" };
    rule->negatives = QStringList { "6,61" };
    rule->autoRecord = true;
    rule->padStart = 5;
    rule->padEnd = 10;
    const QString rules = home.supportFolder() + "/Keywords.plist";
    ASSERT_TRUE(KeywordFile::write(rules, { rule }));

    ASSERT_EQ(run({ "--headless", "--reload" }), 0);
    int marked = 0;
    for (int d : { 0, 1 }) {
        const QByteArray bytes = readFile(output() + "/" + day(d) + ".tgd");
        EXPECT_TRUE(bytes.contains("\r\n"));
        for (const TGDEntryPtr &e : TGDFile::parse(bytes, day(d))) {
            const bool expected = e->title == "Lost" && e->channel != "6,61";
            EXPECT_EQ(e->recordStatus, expected ? "-05 +10" : "N") << e->title.toStdString();
            marked += expected;
        }
    }
    EXPECT_GT(marked, 0);
    const auto stored = KeywordFile::read(rules);
    ASSERT_TRUE(stored && stored->front()->matches);
    EXPECT_EQ(stored->front()->numberMatches, marked);

    QDir().mkpath(output() + "/" + day(2) + ".tgd");
    EXPECT_NE(run({ "--headless", "--reload" }), 0);
    EXPECT_TRUE(out.contains("Reload failed")) << out.toStdString();
}

TEST_F(Headless, UploadToTheSoftwareRecorder)
{
    QTemporaryDir disk;
    const QByteArray first = QByteArray("a day of guide\r\n").repeated(9000);
    addDay(1, first);
    addDay(2, "another day\r\n");

    EXPECT_EQ(run({ "--headless", "--upload", "--pvr-sim", disk.path() }), 0);
    EXPECT_TRUE(
        out.contains("Connected to Topfield\nUploading: " + day(1) + ".tgd...Done\nUploading: "
            + day(2) + ".tgd...Done\nChecking number of TGD files on Topfield: Correct!\n"))
        << out.toStdString();
    EXPECT_EQ(readFile(disk.path() + "/ProgramFiles/" + day(1) + ".tgd"), first);
    // pvr-sim lists what the recorder holds, as a recorder's listing.
    QString listing;
    EXPECT_EQ(runPvrSim({ disk.path(), "--list", "\\ProgramFiles\\" }, &listing), 0);
    EXPECT_TRUE(listing.contains("f " + day(1) + ".tgd\t140.6 KB\t")
        && listing.contains("f " + day(2) + ".tgd\t13 B\t"))
        << listing.toStdString();
    // A recorder without a disk is no recorder at all.
    EXPECT_EQ(run({ "--headless", "--upload", "--pvr-sim", disk.path() + "/none" }), 1);
    EXPECT_TRUE(out.endsWith("Error in connecting to Topfield\nNo recorder found on USB.\n"))
        << out.toStdString();
}

TEST(PvrSim, SendsAndLists)
{
    QTemporaryDir disk, local;
    const QString file = local.path() + "/20300101.tgd";
    ASSERT_TRUE(writeFile(file, QByteArray(70000, 'z')));
    QString out;
    EXPECT_EQ(
        runPvrSim(
            { disk.path(), "--full-speed", "--send", file, "--list", "\\ProgramFiles\\" }, &out),
        0);
    EXPECT_TRUE(out.contains("sent " + file + ": Done\n")) << out.toStdString();
    EXPECT_TRUE(out.contains("f 20300101.tgd\t68.4 KB\t")) << out.toStdString();
    EXPECT_EQ(readFile(disk.path() + "/ProgramFiles/20300101.tgd"), QByteArray(70000, 'z'));
    EXPECT_EQ(runPvrSim({ disk.path(), "--list", "\\Nowhere\\" }, &out), 1);
}

} // namespace
