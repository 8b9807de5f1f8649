// The web-provider fetch against a real HTTP server on 127.0.0.1, the real unzip, the
// bundled sample guide generator and the real grid page script.
#include "base/Paths.h"
#include "base/Settings.h"
#include "support/AppFixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

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

class Fetch : public AppFixture, public ::testing::Test {
protected:
    Fetch()
    {
        qputenv("TZ", "Australia/Sydney");
        tzset();
        slc.setView(&view);
        controller.awakeFromNib();
        rec.calls.clear();
        Settings::setValue("location", "Sydney");
    }

    QString sample() const { return served.path(); }
    QString archive() const { return out() + "/kR.zip"; }

    QTemporaryDir served;
    PlaceholderView view;
};

struct Success {
    const char *name;
    const char *provider, *location, *path, *key;
    bool olderArchiveOnly; // the server lacks the region: the earlier fetch's archive serves
    const char *member; // the guide's name in the archive (null: "xmltv.xml")
};

class FetchSucceeds : public Fetch, public ::testing::WithParamInterface<Success> {};

TEST_P(FetchSucceeds, WritesTheWeekAndReloads)
{
    const Success &c = GetParam();
    QStringList args { "--path", c.path, "--key", c.olderArchiveOnly ? "Elsewhere" : c.key };
    if (c.member)
        args << "--member" << c.member;
    makeSample(sample(), args);
    const QByteArray zip = readFile(sample() + "/" + c.path + "/xmltv" + args[3] + ".zip");
    ASSERT_TRUE(!c.olderArchiveOnly || writeFile(archive(), zip));
    // An earlier archive's guide, for a day that this archive does not hold.
    ASSERT_TRUE(writeFile(out() + "/xmltv.xml",
        "<tv><programme start=\"20990101100000 +1000\" stop=\"20990101110000 "
        "+1000\" channel=\"ABC\"><title>Stale</title></programme></tv>\n"));
    SampleServer provider(sample());
    Settings::setValue("providerHost", provider.host());
    Settings::setValue("provider", c.provider);
    Settings::setValue("location", c.location);
    log.printStatus("earlier text\n");

    EXPECT_TRUE(fetch());

    EXPECT_EQ(log.text(),
        c.olderArchiveOnly ? "Downloading...\nThe download brought nothing: converting the "
                             "archive of an earlier fetch.\nUnzipping...\nConverting to TGD "
                             "format... Done\n"
                           : kSuccessLog);
    EXPECT_EQ(view.progress, kFullProgress);
    EXPECT_EQ(rec.calls, kFinishedCalls + kButtonsOn);
    EXPECT_TRUE(syslog.lines().contains(
        QStringLiteral("http://%1/%2/xmltv%3.zip").arg(provider.host(), c.path, c.key)));
    EXPECT_EQ(readFile(archive()), zip);
    EXPECT_EQ(QFileInfo::exists(out() + "/-"), c.member != nullptr);
    const QStringList days = outputFiles({ "*.tgd" });
    ASSERT_EQ(days.size(), 7);
    EXPECT_EQ(days.first(), QDate::currentDate().toString("yyyyMMdd") + ".tgd");
    EXPECT_TRUE(outputFiles({ "*.html" }).isEmpty());
    // The rescan replaced the placeholder by the days on disk.
    ASSERT_EQ(view.last.size(), 7u);
    EXPECT_EQ(*view.last.front()->rawDate, days.first());
}

INSTANTIATE_TEST_SUITE_P(, FetchSucceeds,
    ::testing::Values(Success { "GoodArchive", "", "Sydney", "myxmltv", "Sydney", false, nullptr },
        Success { "Korrin2", "Korrin2", "Central Coast", "dwxmltv", "CentralCoastNSW", false,
            nullptr },
        Success { "OlderArchive", "", "Sydney", "myxmltv", "Sydney", true, nullptr },
        Success { "MemberNamedDash", "", "Sydney", "myxmltv", "Sydney", false, "-" }),
    [](const auto &info) { return std::string(info.param.name); });

struct Failure {
    const char *name;
    const char *served; // the archive's content on the server (null: none)
    const char *older; // kR.zip before the fetch (null: none)
    bool server;
};

class FetchFails : public Fetch, public ::testing::WithParamInterface<Failure> {};

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
    ASSERT_TRUE(writeFile(out() + "/" + QDate::currentDate().toString("yyyyMMdd") + ".tgd", ""));
    SampleServer provider(sample());
    Settings::setValue("providerHost", provider.host());

    EXPECT_FALSE(fetch());
    EXPECT_EQ(log.text(), kSuccessLog + "The guide held no programmes: no day files were made.\n");
    EXPECT_EQ(view.progress, kFullProgress);
    EXPECT_EQ(rec.calls, kFinishedCalls + kButtonsOn);
    ASSERT_EQ(view.last.size(), 1u);
    EXPECT_TRUE(view.last.front()->date.has_value());
}

TEST_F(Fetch, GridPagesForEveryDayFromAProgramFolderWithBlanksAndQuotes)
{
    QTemporaryDir dir;
    const QString program = dir.path() + "/Program Files/it's $HOME";
    ASSERT_TRUE(QDir().mkpath(program));
    ASSERT_TRUE(QFile::copy(
        QStringLiteral(PALLARO_BINARY_DIR "/share/pallaro/xmltv2html.rb"), program + "/xmltv2html.rb"));
    Paths::setProgramFolder(program);
    makeSample(sample(), { "--key", "NorthernNSW", "--path", "myxmltv", "--days", "3" });
    SampleServer provider(sample());
    Settings::setValue("providerHost", provider.host());
    Settings::setValue("location", "Northern NSW (North)");
    Settings::setValue("generateGrid", true);

    EXPECT_TRUE(fetch());
    EXPECT_EQ(log.text(),
        kSuccessLog + "Creating grid previews...\nIn progress...\nIn progress...\nIn progress... Done\n");
    EXPECT_EQ(rec.calls, kFinishedCalls + QStringList { "loadPages" } + kButtonsOn);
    const QStringList days = outputFiles({ "*.tgd" });
    ASSERT_EQ(days.size(), 3);
    for (const QString &day : days) {
        const QString page = QString(day).replace(".tgd", ".html");
        const QString html = QString::fromUtf8(readFile(out() + "/" + page));
        ASSERT_FALSE(html.isEmpty()) << page.toStdString();
        for (const char *part : { "xmltv2html.css", "popup.js", "data-desc=", ">NBN<" })
            EXPECT_TRUE(html.contains(part)) << part;
        // The other half of the region is left out of the pages.
        EXPECT_FALSE(html.contains(">WIN<") || html.contains(">10Cap<"));
        for (int n = 0; n < 24; ++n)
            EXPECT_TRUE(html.contains(QStringLiteral("name=\"%1\"").arg(n))) << n;
        // Anchor n marks the hour (n + 22) mod 24: 2 is midnight, 8 is six in the morning.
        for (const char *anchor : { "name=\"2\"></a>12am<", "name=\"8\"></a>6am<",
                 "name=\"0\"></a>10pm<" })
            EXPECT_TRUE(html.contains(anchor)) << anchor;
    }
}

// Quitting while a fetch waits: for the provider's answer, or for unzip to read an
// archive from a named pipe.
class FetchQuit : public Fetch, public ::testing::WithParamInterface<bool> {};

bool unzipRunsOn(const QByteArray &archive)
{
    const QByteArray command = QByteArray("/usr/bin/unzip\0-o\0", 18) + archive;
    for (const QString &pid : QDir("/proc").entryList(QDir::Dirs))
        if (readFile("/proc/" + pid + "/cmdline").startsWith(command))
            return true;
    return false;
}

TEST_P(FetchQuit, StopsTheWorkerAndLeavesTheOutputFolderAsItWas)
{
    const bool inUnzip = GetParam();
    makeSample(sample(), { "--key", "Sydney", "--path", "myxmltv" });
    const QByteArray zip = readFile(sample() + "/myxmltv/xmltvSydney.zip");
    StallingServer stalling;
    const QByteArray pipePath = archive().toLocal8Bit();
    ASSERT_TRUE(!inUnzip || mkfifo(pipePath.constData(), 0600) == 0);
    std::signal(SIGPIPE, SIG_IGN);
    Settings::setValue("providerHost", inUnzip ? closedHost() : stalling.host());
    const QStringList before = outputFiles();
    auto quitting = std::make_unique<EPGController>(&log);
    quitting->setSourceList(&slc);
    quitting->setKeywordStore(&rec);
    quitting->setFetchButtons(&rec);
    quitting->fetchEPG();
    quitting->fetchEPG(); // ignored while the first runs
    QElapsedTimer t;
    t.start();
    while (inUnzip && !unzipRunsOn(pipePath) && t.elapsed() < 10000)
        processFor(10);
    ASSERT_TRUE(inUnzip ? unzipRunsOn(pipePath) : stalling.waitForRequest());
    while (!log.text().contains(inUnzip ? "Unzipping" : "Downloading") && t.elapsed() < 10000)
        processFor(10);
    const QString said = log.text();

    QElapsedTimer quit;
    quit.start();
    quitting->applicationWillTerminate();
    quitting.reset();
    EXPECT_LT(quit.elapsed(), 5000);
    EXPECT_EQ(rec.calls, kButtonsOff + QStringList { "writeOutData" });

    // Only now does the archive come: a worker still at work would go on with it.
    if (const int pipe = inUnzip ? ::open(pipePath.constData(), O_WRONLY | O_NONBLOCK) : -1;
        pipe >= 0) {
        (void)::write(pipe, zip.constData(), size_t(zip.size()));
        ::close(pipe);
    } else if (!inUnzip) {
        stalling.answer(zip);
    }
    processFor(1500);
    EXPECT_EQ(outputFiles(), before);
    EXPECT_EQ(log.text(), said);
}

INSTANTIATE_TEST_SUITE_P(, FetchQuit, ::testing::Values(false, true),
    [](const auto &info) { return std::string(info.param ? "InUnzip" : "InDownload"); });

TEST(HeadlessDownload, ExitStatusTellsWhetherDayFilesWereMade)
{
    TempHome home;
    QTemporaryDir served;
    qputenv("TZ", "Australia/Sydney");
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
