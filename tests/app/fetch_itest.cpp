// The web-provider fetch against a real HTTP server on 127.0.0.1 and the bundled sample
// guide generator.
#include "app/RunRecords.h"
#include "base/Clock.h"
#include "base/Settings.h"
#include "support/AppFixture.h"
#include "support/SmallDisk.h"
#include "support/SydneyTime.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHash>
#include <QProcess>
#include <QSet>
#include <QTcpServer>
#include <QTcpSocket>
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

// A loopback server that answers each request's headers with the same bytes and then
// keeps the connection open: headers without the body they promise make a stalled download.
class CannedServer : public QTcpServer
{
public:
    explicit CannedServer(QByteArray answer)
        : answer_(std::move(answer))
    {
        listen(QHostAddress::LocalHost, 0);
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    QByteArray &request = requests_[socket];
                    request += socket->readAll();
                    if (request.contains("\r\n\r\n") && !answered_.contains(socket)) {
                        answered_ << socket;
                        socket->write(answer_);
                    }
                });
            }
        });
    }
    QString host() const { return QStringLiteral("127.0.0.1:%1").arg(serverPort()); }

private:
    QByteArray answer_;
    QHash<QTcpSocket *, QByteArray> requests_;
    QSet<QTcpSocket *> answered_;
};

enum class Provider { Unresolvable, Refused, Sample, Stalling, RedirectToSample, NotHttp };

struct Failure {
    const char *name;
    Provider provider;
    bool archive; // the sample server serves an archive of `members` (make_archive.py)
    QStringList members;
    const char *served; // else these bytes in the archive's place (null: nothing)
    const char *older; // kR.zip before the fetch (null: none)
    // The line after " Grabber failure", which is also the record's cause. HOST stands for
    // the provider's "127.0.0.1:PORT", PORT for its port; a trailing "*" asks only for the start.
    const char *cause;
};

class FetchFails : public Fetch, public ::testing::WithParamInterface<Failure>
{
protected:
    void serve(const Failure &c)
    {
        QDir(sample()).mkpath("myxmltv");
        const QString zip = sample() + "/myxmltv/xmltvSydney.zip";
        if (c.archive) {
            QProcess p;
            p.start("/usr/bin/python3",
                QStringList { PALLARO_SOURCE_DIR "/tests/data/app/make_archive.py", zip }
                    + c.members);
            ASSERT_TRUE(p.waitForFinished(60000));
            ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
        } else if (c.served) {
            ASSERT_TRUE(writeFile(zip, c.served));
        }
    }
};

TEST_P(FetchFails, IsAGrabberFailureThatSaysWhyAndShowsTheDaysOnDisk)
{
    const Failure &c = GetParam();
    serve(c);
    ASSERT_TRUE(!c.older || writeFile(archive(), c.older));
    SampleServer provider(sample());
    std::unique_ptr<CannedServer> canned;
    QString host = provider.host();
    if (c.provider == Provider::Unresolvable) {
        host = "guide.pallaro.invalid";
    } else if (c.provider == Provider::Refused) {
        host = closedHost();
    } else if (c.provider == Provider::Stalling) {
        canned = std::make_unique<CannedServer>(
            "HTTP/1.1 200 OK\r\nContent-Type: application/zip\r\nContent-Length: 5000\r\n\r\n");
        host = canned->host();
    } else if (c.provider == Provider::RedirectToSample) {
        canned = std::make_unique<CannedServer>("HTTP/1.1 302 Found\r\nLocation: "
            + provider.url("myxmltv/moved.zip").toUtf8() + "\r\nContent-Length: 0\r\n\r\n");
        host = canned->host();
    } else if (c.provider == Provider::NotHttp) {
        canned = std::make_unique<CannedServer>("SSH-2.0-OpenSSH_9.6\r\n");
        host = canned->host();
    }
    Settings::setValue("providerHost", host);
    controller.setStallSeconds(1);
    const QString today = Clock::today().toString("yyyyMMdd") + ".tgd";
    ASSERT_TRUE(writeFile(out() + "/" + today, "old day\tfile\n"));

    QElapsedTimer took;
    took.start();
    EXPECT_FALSE(fetch());
    EXPECT_LT(took.elapsed(), 15000);

    QString cause = QString(c.cause)
                        .replace("SAMPLE", provider.host())
                        .replace("HOST", host)
                        .replace("PORT", host.section(':', 1));
    const bool onlyStart = cause.endsWith('*');
    cause.chop(onlyStart ? 1 : 0);
    const QStringList lines = log.text().split('\n');
    ASSERT_GE(lines.size(), 5) << log.text().toStdString();
    EXPECT_EQ(lines.first(), "Downloading...");
    EXPECT_TRUE(log.text().contains("Unzipping...\n Grabber failure\n"));
    const QString said = lines.at(lines.size() - 2);
    EXPECT_TRUE(onlyStart ? said.startsWith(cause) : said == cause)
        << said.toStdString() << "\nnot\n"
        << cause.toStdString();
    // The record of the run holds the same line.
    const std::optional<RunOutcome> recorded = RunRecords::read(RunRecords::Job::Fetch);
    ASSERT_TRUE(recorded);
    EXPECT_FALSE(recorded->ok);
    EXPECT_EQ(recorded->cause, said);
    EXPECT_TRUE(syslog.lines().contains("Task1 failed."));
    EXPECT_EQ(view.progress, kFailedProgress);
    // The day list shows the day on disk, not the placeholder row of the fetch.
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
        Failure { "UnresolvableHost", Provider::Unresolvable, false, {}, nullptr, nullptr,
            "The provider host \"guide.pallaro.invalid\" cannot be found: set the provider host "
            "in Preferences" },
        Failure { "RefusedConnection", Provider::Refused, false, {}, nullptr, nullptr,
            "The provider host \"127.0.0.1\" refused the connection on port PORT: check the "
            "provider host in Preferences" },
        // The reason phrase is the server's own.
        Failure { "NotFound", Provider::Sample, false, {}, nullptr, nullptr,
            "The guide provider answered \"404 File not found\" for "
            "http://HOST/myxmltv/xmltvSydney.zip" },
        Failure { "RedirectToNotFound", Provider::RedirectToSample, false, {}, nullptr, nullptr,
            "The guide provider answered \"404 File not found\" for "
            "http://SAMPLE/myxmltv/moved.zip" },
        Failure { "Stalled", Provider::Stalling, false, {}, nullptr, nullptr,
            "The download from \"HOST\" stalled: no data for 1 s" },
        // Other failures: libcurl's words, with the host.
        Failure { "NotHttp", Provider::NotHttp, false, {}, nullptr, nullptr,
            "Cannot download from \"HOST\": *" },
        Failure { "HtmlPage", Provider::Sample, false, {},
            "<!DOCTYPE html>\n<html><head><title>Down for\n maintenance</title></head>"
            "<body>Back soon</body></html>\n",
            nullptr,
            "The guide provider answered http://HOST/myxmltv/xmltvSydney.zip with an HTML page "
            "titled \"Down for maintenance\", not a zip archive" },
        Failure { "ZipWithoutGuide", Provider::Sample, true,
            { "text:readme.txt:hello", "text:c\nd:3", "text:guide.xml:<tv/>", "text:a:1",
                "text:b:2" },
            nullptr, nullptr,
            "The provider's answer holds no guide: the archive holds no \"xmltv.xml\", only "
            "\"readme.txt\", \"c?d\", \"guide.xml\" and 2 more" },
        Failure { "EmptyZip", Provider::Sample, true, {}, nullptr, nullptr,
            "The provider's answer holds no guide: the archive is empty" },
        // The download's cause comes first, before the fallback's.
        Failure { "NotFoundAndNoEarlierGuide", Provider::Sample, false, {}, nullptr,
            "older archive",
            "The guide provider answered \"404 File not found\" for http://HOST/myxmltv/"
            "xmltvSydney.zip; the archive of an earlier fetch holds no guide either: not a zip "
            "archive*" }),
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
