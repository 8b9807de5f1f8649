// The web-provider fetch against a real HTTP server on 127.0.0.1 and the bundled sample
// guide generator.
#include "base/Clock.h"
#include "base/Settings.h"
#include "support/AppFixture.h"
#include "support/SmallDisk.h"
#include "support/SydneyTime.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace
{

// A loopback address with nothing listening on it.
QString closedHost()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return QStringLiteral("127.0.0.1:%1").arg(probe.serverPort());
}

const QStringList kFinishedCalls = kButtonsOff + QStringList { "reloadData NoSave", "beep" };
const QString kSuccessLog = "Downloading...\nUnzipping...\nConverting to TGD format... Done\n";
const QString kFailureLog = "Downloading...\nUnzipping...\n Grabber failure\n";
const QList<double> kFullProgress = { 0, 5, 15, 33, 66, 100 };
const QList<double> kFailedProgress = { 0, 5, 15, 33, 66 };

class Fetch : public AppFixture, public ::testing::Test
{
protected:
    Fetch()
    {
        slc.setView(&view);
        controller.awakeFromNib();
        rec.calls.clear();
        Settings::setValue("location", "Sydney");
    }

    QString sample() const { return served.path(); }
    QString archive() const { return out() + "/kR.zip"; }

    const LocalZone sydney;
    QTemporaryDir served;
    PlaceholderView view;
};

TEST_F(Fetch, SucceedsWritesTheWeekAndReloads)
{
    makeSample(sample(), { "--key", "Sydney", "--path", "myxmltv" });
    // An earlier archive's guide, for a day that this archive does not hold.
    ASSERT_TRUE(writeFile(out() + "/xmltv.xml",
        "<tv><programme start=\"20990101100000 +1000\" stop=\"20990101110000 "
        "+1000\" channel=\"ABC\"><title>Stale</title></programme></tv>\n"));
    SampleServer provider(sample());
    Settings::setValue("providerHost", provider.host());
    log.printStatus("earlier text\n");

    EXPECT_TRUE(fetch());
    EXPECT_EQ(log.text(), kSuccessLog);
    EXPECT_EQ(view.progress, kFullProgress);
    EXPECT_EQ(rec.calls, kFinishedCalls + kButtonsOn);
    EXPECT_TRUE(syslog.lines().contains("http://" + provider.host() + "/myxmltv/xmltvSydney.zip"));
    EXPECT_EQ(readFile(archive()), readFile(sample() + "/myxmltv/xmltvSydney.zip"));
    const QStringList days = outputFiles({ "*.tgd" });
    ASSERT_EQ(days.size(), 7);
    EXPECT_EQ(days.first(), Clock::today().toString("yyyyMMdd") + ".tgd");
    EXPECT_TRUE(outputFiles({ "*.html" }).isEmpty());
    // The rescan replaced the placeholder by the days on disk.
    ASSERT_EQ(view.last.size(), 7u);
    EXPECT_EQ(*view.last.front()->rawDate, days.first());
}

struct Failure {
    const char *name;
    const char *served; // the archive's content on the server (null: none)
    const char *older; // kR.zip before the fetch (null: none)
    bool server;
    const char *reason; // the line after " Grabber failure"
};

class FetchFails : public Fetch, public ::testing::WithParamInterface<Failure>
{
};

TEST_P(FetchFails, IsAGrabberFailureThatSaysWhyAndShowsTheDaysOnDisk)
{
    const Failure &c = GetParam();
    QDir(sample()).mkpath("myxmltv");
    ASSERT_TRUE(!c.served || writeFile(sample() + "/myxmltv/xmltvSydney.zip", c.served));
    ASSERT_TRUE(!c.older || writeFile(archive(), c.older));
    SampleServer provider(sample());
    Settings::setValue("providerHost", c.server ? provider.host() : closedHost());
    const QString today = Clock::today().toString("yyyyMMdd") + ".tgd";
    ASSERT_TRUE(writeFile(out() + "/" + today, "old day\tfile\n"));

    EXPECT_FALSE(fetch());

    const QStringList lines = log.text().split('\n');
    ASSERT_GE(lines.size(), 5) << log.text().toStdString();
    EXPECT_EQ(lines.first(), "Downloading...");
    EXPECT_TRUE(log.text().contains("Unzipping...\n Grabber failure\n"));
    EXPECT_TRUE(lines.at(lines.size() - 2).startsWith(c.reason)) << log.text().toStdString();
    EXPECT_TRUE(syslog.lines().contains("Task1 failed."));
    EXPECT_EQ(view.progress, kFailedProgress);
    ASSERT_EQ(view.last.size(), 1u);
    EXPECT_EQ(view.last.front()->rawDate, today);
    EXPECT_EQ(readFile(out() + "/" + today), "old day\tfile\n");
    EXPECT_EQ(rec.calls, kButtonsOff + kButtonsOn);
    // An answer that is no archive never replaces what was there.
    EXPECT_EQ(QFileInfo::exists(archive()), c.older != nullptr);
    EXPECT_EQ(readFile(archive()), c.older ? c.older : "");
}

INSTANTIATE_TEST_SUITE_P(, FetchFails,
    ::testing::Values(
        Failure { "NoServer", nullptr, nullptr, false, "The download brought nothing: " },
        Failure {
            "NotFound", nullptr, nullptr, true, "The download brought nothing: HTTP status 404" },
        Failure { "BodyIsNotAZip", "<html><body>Service unavailable</body></html>\n",
            "older archive", true,
            "The archive of an earlier fetch holds no guide: not a zip archive" }),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(Fetch, GuideWithoutProgrammesIsNotASuccessAndShowsTheDaysOnDisk)
{
    makeSample(sample(), { "--key", "Sydney", "--path", "myxmltv", "--empty" });
    ASSERT_TRUE(writeFile(out() + "/" + Clock::today().toString("yyyyMMdd") + ".tgd", ""));
    SampleServer provider(sample());
    Settings::setValue("providerHost", provider.host());

    EXPECT_FALSE(fetch());
    EXPECT_EQ(log.text(),
        kSuccessLog
            + "The guide held no programmes (\"xmltv.xml\" lists no programmes): no day files "
              "were made.\n");
    EXPECT_EQ(view.progress, kFullProgress);
    EXPECT_EQ(rec.calls, kFinishedCalls + kButtonsOn);
    ASSERT_EQ(view.last.size(), 1u);
    EXPECT_TRUE(view.last.front()->date.has_value());
}

// Quitting while the provider holds the download without answering.
TEST_F(Fetch, QuitStopsTheWorkerAndLeavesTheOutputFolderAsItWas)
{
    QTcpServer silent; // the kernel takes the connection; nobody answers it
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost, 0));
    Settings::setValue("providerHost", QString("127.0.0.1:%1").arg(silent.serverPort()));
    const QStringList before = outputFiles();
    auto quitting = std::make_unique<EPGController>(&log);
    quitting->setSourceList(&slc);
    quitting->setKeywordStore(&rec);
    quitting->setFetchButtons(&rec);
    quitting->fetchEPG();
    quitting->fetchEPG(); // ignored while the first runs
    QElapsedTimer t;
    t.start();
    while (!log.text().contains("Downloading") && t.elapsed() < 10000)
        processFor(10);
    processFor(500);
    const QString said = log.text();

    QElapsedTimer quit;
    quit.start();
    quitting->applicationWillTerminate();
    quitting.reset();
    EXPECT_LT(quit.elapsed(), 5000);
    EXPECT_EQ(rec.calls, kButtonsOff + QStringList { "writeOutData" });
    processFor(500);
    EXPECT_EQ(outputFiles(), before);
    EXPECT_EQ(log.text(), said);
}

TEST(HeadlessDownload, ExitStatusTellsWhetherDayFilesWereMade)
{
    TempHome home;
    QTemporaryDir served;
    const LocalZone sydney;
    makeSample(served.path(), { "--key", "Sydney", "--path", "myxmltv" });
    SampleServer provider(served.path());
    QString out;
    ASSERT_EQ(runPallaro({ "--set", "providerHost=" + closedHost() }, {}, &out), 0);
    EXPECT_EQ(runPallaro({ "--headless", "--download" }, {}, &out), 1);
    EXPECT_TRUE(out.contains(kFailureLog)) << out.toStdString();
    ASSERT_EQ(runPallaro({ "--set", "providerHost=" + provider.host() }, {}, &out), 0);
    EXPECT_EQ(runPallaro({ "--headless", "--download" }, {}, &out), 0);
    EXPECT_TRUE(out.contains(kSuccessLog)) << out.toStdString();
    EXPECT_EQ(QDir(home.supportFolder() + "/output").entryList({ "*.tgd" }).size(), 7);
}

QByteArray bytesOf(const QString &folder, const QString &name)
{
    return readFile(folder + "/" + name);
}

struct FullDiskCase {
    const char *name;
    // Room left beyond what the new guide's archive and document take.
    bool roomForTheGuide;
};

class FullDisk : public ::testing::TestWithParam<FullDiskCase>
{
};

// The old guide stays byte for byte, whichever write the full disk stops, and the fetch
// says so and fails.
TEST_P(FullDisk, FetchFailsSaysWhyAndKeepsTheOldGuide)
{
    TempHome home;
    const LocalZone sydney;
    const QString output = home.supportFolder() + "/output";
    SmallDisk disk(home.supportFolder());
    if (!disk.mounted())
        GTEST_SKIP() << "cannot mount a tmpfs here (needs root): " << disk.why().toStdString();
    QTemporaryDir served;
    makeSample(served.path(), { "--key", "Sydney", "--path", "myxmltv" });
    SampleServer provider(served.path());
    QString out;
    ASSERT_EQ(runPallaro({ "--set", "providerHost=" + provider.host() }, {}, &out), 0);
    ASSERT_EQ(runPallaro({ "--set", "generateGrid=0" }, {}, &out), 0);
    ASSERT_EQ(runPallaro({ "--headless", "--download" }, {}, &out), 0) << out.toStdString();

    // The old guide: the first lines of each fetched day, so that the new differs from it.
    // The script fetch leaves neither an archive nor a document beside its days.
    const qint64 document = QFileInfo(output + "/xmltv.xml").size();
    const qint64 archive = QFileInfo(output + "/kR.zip").size();
    ASSERT_TRUE(QFile::remove(output + "/xmltv.xml") && QFile::remove(output + "/kR.zip"));
    const QStringList days = QDir(output).entryList({ "*.tgd" }, QDir::Files, QDir::Name);
    ASSERT_EQ(days.size(), 7);
    qint64 newDays = 0;
    QHash<QString, QByteArray> old;
    for (const QString &day : days) {
        const QByteArray fetched = bytesOf(output, day);
        newDays += fetched.size();
        old[day] = fetched.left(fetched.indexOf('\n', fetched.indexOf('\n') + 1) + 1);
        ASSERT_TRUE(writeFile(output + "/" + day, old[day]));
    }
    // Room for half the new days: the page rounding of the few files written on the way
    // stays well inside the other half.
    const qint64 slack = 16 * 1024;
    ASSERT_GT(newDays / 2, 2 * slack);
    const FullDiskCase &c = GetParam();
    ASSERT_TRUE(
        disk.leaveFree(c.roomForTheGuide ? document + archive + slack + newDays / 2 : 4096));
    const auto names = [&output] {
        return QDir(output).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    };
    const QStringList before = names();

    EXPECT_EQ(runPallaro({ "--headless", "--download" }, {}, &out), 1);
    EXPECT_TRUE(out.contains(c.roomForTheGuide
            ? "Converting to TGD format... Failed\nThe guide was left as it was: cannot write "
            : " Grabber failure\nThe guide could not be unpacked: "))
        << out.toStdString();
    EXPECT_TRUE(out.contains("No space left on device")) << out.toStdString();
    EXPECT_EQ(QDir(output).entryList({ "*.tgd" }, QDir::Files, QDir::Name), days);
    for (const QString &day : days)
        EXPECT_EQ(bytesOf(output, day), old[day]) << day.toStdString();
    // Nothing half written is left behind.
    for (const QString &name : names())
        EXPECT_TRUE(before.contains(name) || name == "kR.zip" || name == "xmltv.xml")
            << name.toStdString();
}

INSTANTIATE_TEST_SUITE_P(, FullDisk,
    ::testing::Values(
        FullDiskCase { "NoRoomForTheGuide", false }, FullDiskCase { "NoRoomForTheDays", true }),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
