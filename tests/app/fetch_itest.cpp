// The web-provider fetch against a real HTTP server on 127.0.0.1, the real unzip and the
// bundled sample guide generator.
#include "base/Clock.h"
#include "base/Settings.h"
#include "support/AppFixture.h"
#include "support/SydneyTime.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTcpServer>
#include <QTemporaryDir>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

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
};

class FetchFails : public Fetch, public ::testing::WithParamInterface<Failure>
{
};

TEST_P(FetchFails, IsAGrabberFailureThatKeepsThePlaceholder)
{
    const Failure &c = GetParam();
    QDir(sample()).mkpath("myxmltv");
    ASSERT_TRUE(!c.served || writeFile(sample() + "/myxmltv/xmltvSydney.zip", c.served));
    ASSERT_TRUE(!c.older || writeFile(archive(), c.older));
    SampleServer provider(sample());
    Settings::setValue("providerHost", c.server ? provider.host() : closedHost());

    EXPECT_FALSE(fetch());

    EXPECT_EQ(log.text(), kFailureLog);
    EXPECT_TRUE(syslog.lines().contains("Task1 failed."));
    EXPECT_EQ(view.progress, kFailedProgress);
    ASSERT_EQ(view.last.size(), 1u);
    EXPECT_EQ(view.last.front()->downloaded.toInt(), 66);
    EXPECT_EQ(rec.calls, kButtonsOff + kButtonsOn);
    // An error page must not pass for an archive; a body that is no zip replaces it.
    EXPECT_EQ(QFileInfo::exists(archive()), c.served != nullptr);
    EXPECT_EQ(readFile(archive()), c.served ? c.served : "");
}

INSTANTIATE_TEST_SUITE_P(, FetchFails,
    ::testing::Values(Failure { "NoServer", nullptr, nullptr, false },
        Failure { "NotFound", nullptr, nullptr, true },
        Failure { "BodyIsNotAZip", "<html><body>Service unavailable</body></html>\n",
            "older archive", true }),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(Fetch, GuideWithoutProgrammesIsNotASuccessAndShowsTheDaysOnDisk)
{
    makeSample(sample(), { "--key", "Sydney", "--path", "myxmltv", "--empty" });
    ASSERT_TRUE(writeFile(out() + "/" + Clock::today().toString("yyyyMMdd") + ".tgd", ""));
    SampleServer provider(sample());
    Settings::setValue("providerHost", provider.host());

    EXPECT_FALSE(fetch());
    EXPECT_EQ(log.text(), kSuccessLog + "The guide held no programmes: no day files were made.\n");
    EXPECT_EQ(view.progress, kFullProgress);
    EXPECT_EQ(rec.calls, kFinishedCalls + kButtonsOn);
    ASSERT_EQ(view.last.size(), 1u);
    EXPECT_TRUE(view.last.front()->date.has_value());
}

bool unzipRunsOn(const QByteArray &archive)
{
    const QByteArray command = QByteArray("/usr/bin/unzip\0-o\0", 18) + archive;
    for (const QString &pid : QDir("/proc").entryList(QDir::Dirs))
        if (readFile("/proc/" + pid + "/cmdline").startsWith(command))
            return true;
    return false;
}

// Quitting while unzip waits to read the archive from a named pipe.
TEST_F(Fetch, QuitStopsTheWorkerAndLeavesTheOutputFolderAsItWas)
{
    makeSample(sample(), { "--key", "Sydney", "--path", "myxmltv" });
    const QByteArray zip = readFile(sample() + "/myxmltv/xmltvSydney.zip");
    const QByteArray pipePath = archive().toLocal8Bit();
    ASSERT_EQ(mkfifo(pipePath.constData(), 0600), 0);
    std::signal(SIGPIPE, SIG_IGN);
    Settings::setValue("providerHost", closedHost());
    const QStringList before = outputFiles();
    auto quitting = std::make_unique<EPGController>(&log);
    quitting->setSourceList(&slc);
    quitting->setKeywordStore(&rec);
    quitting->setFetchButtons(&rec);
    quitting->fetchEPG();
    quitting->fetchEPG(); // ignored while the first runs
    QElapsedTimer t;
    t.start();
    while (!unzipRunsOn(pipePath) && t.elapsed() < 10000)
        processFor(10);
    ASSERT_TRUE(unzipRunsOn(pipePath));
    while (!log.text().contains("Unzipping") && t.elapsed() < 10000)
        processFor(10);
    const QString said = log.text();

    QElapsedTimer quit;
    quit.start();
    quitting->applicationWillTerminate();
    quitting.reset();
    EXPECT_LT(quit.elapsed(), 5000);
    EXPECT_EQ(rec.calls, kButtonsOff + QStringList { "writeOutData" });

    // Only now does the archive come: a worker still at work would go on with it.
    if (const int pipe = ::open(pipePath.constData(), O_WRONLY | O_NONBLOCK); pipe >= 0) {
        (void)::write(pipe, zip.constData(), size_t(zip.size()));
        ::close(pipe);
    }
    processFor(1500);
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

} // namespace
