// The web-provider fetch against a real HTTP server on 127.0.0.1, the real unzip, the
// bundled sample guide generator and the real grid page script.
#include "app/EPGController.h"
#include "base/Paths.h"
#include "base/Settings.h"
#include "base/StatusLog.h"
#include "support/TempHome.h"
#include "ui/SourceListController.h"

#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>
#include <ctime>
#include <gtest/gtest.h>

namespace {

const QString kPython = QStringLiteral("/usr/bin/python3");

QString script(const QString &name)
{
    return QStringLiteral(PALLARO_SOURCE_DIR "/scripts/") + name;
}

// Writes the sample guide's archive tree into `folder`; extra arguments go to the generator.
void makeSample(const QString &folder, const QStringList &extra = {})
{
    QProcess p;
    p.start(kPython, QStringList { script("sample-guide"), folder } + extra);
    ASSERT_TRUE(p.waitForFinished(60000));
    ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
}

// The provider: the sample server on a free loopback port, serving one folder.
class Provider {
public:
    explicit Provider(const QString &folder)
    {
        server_.start(kPython, { script("sample-server"), folder });
        server_.waitForStarted();
        while (server_.state() == QProcess::Running && !server_.canReadLine())
            server_.waitForReadyRead(5000);
        port_ = server_.readLine().trimmed().toInt();
    }
    ~Provider()
    {
        server_.kill();
        server_.waitForFinished();
    }
    QString host() const { return QStringLiteral("127.0.0.1:%1").arg(port_); }
    int port() const { return port_; }

private:
    QProcess server_;
    int port_ = 0;
};

// A loopback port with nothing listening on it.
int closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const int port = probe.serverPort();
    probe.close();
    return port;
}

class RecordingView : public DayListView {
public:
    void showRows(const GuideDayRows &rows) override
    {
        if (rows.size() == 1 && rows.front()->file == "Loading...") {
            EXPECT_FALSE(rows.front()->date.has_value());
            EXPECT_EQ(rows.front()->fileCount, 0);
            progress << rows.front()->downloaded.toInt();
        }
        last = rows;
    }
    QList<int> progress;
    GuideDayRows last;
};

class RecordingButtons : public FetchButtons {
public:
    void setFetchButton(bool enabled, const QString &title) override
    {
        calls << QStringLiteral("fetch %1 %2").arg(enabled ? "on" : "off", title);
    }
    void setUploadEnabled(bool enabled) override
    {
        calls << QStringLiteral("upload %1").arg(enabled ? "on" : "off");
    }
    QStringList calls;
};

class RecordingKeywords : public KeywordStore {
public:
    void writeOutData() override { calls << "writeOutData"; }
    void reloadData(const QString &mode) override { calls << "reloadData " + mode; }
    QStringList calls;
};

class RecordingGrid : public GridPages {
public:
    void loadPages() override { ++loads; }
    int loads = 0;
};

const QStringList kButtonsAround
    = { "fetch off Downloading...", "upload off", "fetch on Fetch", "upload on" };

class Fetch : public ::testing::Test {
protected:
    Fetch()
    {
        qputenv("TZ", "Australia/Sydney");
        tzset();
        Settings::registerDefaults();
        slc.setView(&view);
        controller.setSourceList(&slc);
        controller.setKeywordStore(&keywords);
        controller.setGridPages(&grid);
        controller.setFetchButtons(&buttons);
        controller.setBeep([this] { ++beeps; });
        controller.awakeFromNib();
        grid.loads = 0;
        Settings::setValue("location", "Sydney");
    }
    ~Fetch() override { Paths::setProgramFolder(QString()); }

    QString out() const { return Paths::outputFolder(); }
    QString sample() const { return served.path(); }
    QStringList dayFiles() const
    {
        return QDir(out()).entryList({ "*.tgd" }, QDir::Files, QDir::Name);
    }

    // Runs one fetch to its end; answers what fetchFinished said.
    bool fetch()
    {
        QEventLoop loop;
        bool result = false;
        bool ended = false;
        QObject::connect(&controller, &EPGController::fetchFinished, &loop, [&](bool ok) {
            result = ok;
            ended = true;
            loop.quit();
        });
        QTimer::singleShot(60000, &loop, &QEventLoop::quit);
        controller.fetchEPG();
        loop.exec();
        EXPECT_TRUE(ended) << "the fetch did not end";
        return result;
    }

    TempHome home;
    SystemLogCapture syslog;
    QTemporaryDir served;
    StatusLog log;
    RecordingView view;
    SourceListController slc;
    RecordingKeywords keywords;
    RecordingGrid grid;
    RecordingButtons buttons;
    int beeps = 0;
    EPGController controller { &log };
};

const QString kSuccessLog = "Downloading...\nUnzipping...\nConverting to TGD format... Done\n";
const QString kFailureLog = "Downloading...\nUnzipping...\n Grabber failure\n";
const QList<int> kFullProgress = { 0, 5, 15, 33, 66, 100 };
const QList<int> kFailedProgress = { 0, 5, 15, 33, 66 };

TEST_F(Fetch, GoodArchiveMakesAWeekOfDaysAndReloads)
{
    makeSample(sample(), { "--key", "Sydney", "--path", "myxmltv" });
    Provider provider(sample());
    Settings::setValue("providerHost", provider.host());
    log.printStatus("earlier text\n");

    EXPECT_TRUE(fetch());

    EXPECT_EQ(log.text(), kSuccessLog);
    EXPECT_EQ(view.progress, kFullProgress);
    EXPECT_EQ(buttons.calls, kButtonsAround);
    EXPECT_EQ(keywords.calls, QStringList { "reloadData NoSave" });
    EXPECT_EQ(beeps, 1);
    EXPECT_EQ(grid.loads, 0);
    EXPECT_TRUE(syslog.lines().contains(
        QStringLiteral("http://%1/myxmltv/xmltvSydney.zip").arg(provider.host())));

    const QStringList days = dayFiles();
    ASSERT_EQ(days.size(), 7);
    EXPECT_EQ(days.first(), QDate::currentDate().toString("yyyyMMdd") + ".tgd");
    // The rescan replaced the placeholder by the days on disk.
    ASSERT_EQ(view.last.size(), 7u);
    EXPECT_EQ(*view.last.front()->rawDate, days.first());
    EXPECT_EQ(readFile(out() + "/kR.zip").left(2), "PK");
    EXPECT_FALSE(QFileInfo::exists(out() + "/20261205.html"));
}

TEST_F(Fetch, Korrin2FetchesTheSecondPathWithTheRegionsKey)
{
    makeSample(sample(), { "--key", "CentralCoastNSW", "--path", "dwxmltv" });
    Provider provider(sample());
    Settings::setValue("providerHost", provider.host());
    Settings::setValue("provider", "Korrin2");
    Settings::setValue("location", "Central Coast");

    EXPECT_TRUE(fetch());
    EXPECT_EQ(log.text(), kSuccessLog);
    EXPECT_TRUE(syslog.lines().contains(
        QStringLiteral("http://%1/dwxmltv/xmltvCentralCoastNSW.zip").arg(provider.host())));
    EXPECT_EQ(dayFiles().size(), 7);
}

TEST_F(Fetch, NoServerIsAGrabberFailure)
{
    Settings::setValue("providerHost", QStringLiteral("127.0.0.1:%1").arg(closedPort()));

    EXPECT_FALSE(fetch());

    EXPECT_EQ(log.text(), kFailureLog);
    EXPECT_TRUE(syslog.lines().contains("Task1 failed."));
    EXPECT_EQ(view.progress, kFailedProgress);
    // No rescan: the placeholder stays at 66.
    ASSERT_EQ(view.last.size(), 1u);
    EXPECT_EQ(view.last.front()->downloaded.toInt(), 66);
    EXPECT_EQ(buttons.calls, kButtonsAround);
    EXPECT_TRUE(keywords.calls.isEmpty());
    EXPECT_EQ(beeps, 0);
    EXPECT_FALSE(QFileInfo::exists(out() + "/kR.zip"));
}

TEST_F(Fetch, NotFoundWithoutOlderArchiveFailsAndWritesNothing)
{
    QDir(sample()).mkpath("myxmltv");
    Provider provider(sample());
    Settings::setValue("providerHost", provider.host());

    EXPECT_FALSE(fetch());
    EXPECT_EQ(log.text(), kFailureLog);
    EXPECT_EQ(view.progress, kFailedProgress);
    EXPECT_EQ(buttons.calls, kButtonsAround);
    // The error page must not pass for an archive.
    EXPECT_FALSE(QFileInfo::exists(out() + "/kR.zip"));
}

TEST_F(Fetch, NotFoundWithOlderArchiveConvertsItAndSaysSo)
{
    makeSample(sample(), { "--key", "Elsewhere", "--path", "myxmltv" });
    const QByteArray older = readFile(sample() + "/myxmltv/xmltvElsewhere.zip");
    ASSERT_TRUE(writeFile(out() + "/kR.zip", older));
    Provider provider(sample());
    Settings::setValue("providerHost", provider.host());

    EXPECT_TRUE(fetch());
    EXPECT_EQ(log.text(),
        "Downloading...\n"
        "The download brought nothing: converting the archive of an earlier "
        "fetch.\n"
        "Unzipping...\nConverting to TGD format... Done\n");
    EXPECT_EQ(readFile(out() + "/kR.zip"), older);
    EXPECT_EQ(view.progress, kFullProgress);
    EXPECT_EQ(buttons.calls, kButtonsAround);
    EXPECT_EQ(dayFiles().size(), 7);
    EXPECT_EQ(beeps, 1);
}

TEST_F(Fetch, BodyThatIsNotAZipReplacesTheArchiveAndFails)
{
    const QByteArray page = "<html><body>Service unavailable</body></html>\n";
    ASSERT_TRUE(writeFile(sample() + "/myxmltv/xmltvSydney.zip", page));
    ASSERT_TRUE(writeFile(out() + "/kR.zip", "older archive"));
    Provider provider(sample());
    Settings::setValue("providerHost", provider.host());

    EXPECT_FALSE(fetch());
    EXPECT_EQ(log.text(), kFailureLog);
    EXPECT_EQ(readFile(out() + "/kR.zip"), page);
    EXPECT_EQ(view.progress, kFailedProgress);
    EXPECT_EQ(buttons.calls, kButtonsAround);
    EXPECT_TRUE(keywords.calls.isEmpty());
}

TEST_F(Fetch, MemberNamedDashIsConvertedAndAStaleGuideIsNot)
{
    makeSample(sample(), { "--key", "Sydney", "--path", "myxmltv", "--member", "-" });
    // An earlier archive's guide, for a day that this archive does not hold.
    ASSERT_TRUE(writeFile(out() + "/xmltv.xml",
        "<tv><programme start=\"20990101100000 +1000\" stop=\"20990101110000 "
        "+1000\" channel=\"ABC\"><title>Stale</title></programme></tv>\n"));
    Provider provider(sample());
    Settings::setValue("providerHost", provider.host());

    EXPECT_TRUE(fetch());
    EXPECT_EQ(log.text(), kSuccessLog);
    EXPECT_TRUE(QFileInfo::exists(out() + "/-"));
    EXPECT_FALSE(QFileInfo::exists(out() + "/20990101.tgd"));
    EXPECT_EQ(dayFiles().size(), 7);
}

TEST_F(Fetch, GuideWithoutProgrammesIsNotASuccess)
{
    makeSample(sample(), { "--key", "Sydney", "--path", "myxmltv", "--empty" });
    ASSERT_TRUE(writeFile(out() + "/" + QDate::currentDate().toString("yyyyMMdd") + ".tgd", ""));
    Provider provider(sample());
    Settings::setValue("providerHost", provider.host());

    EXPECT_FALSE(fetch());
    EXPECT_EQ(log.text(), kSuccessLog + "The guide held no programmes: no day files were made.\n");
    EXPECT_EQ(view.progress, kFullProgress);
    EXPECT_EQ(buttons.calls, kButtonsAround);
    // The rescan shows the days already on disk.
    EXPECT_EQ(keywords.calls, QStringList { "reloadData NoSave" });
    ASSERT_EQ(view.last.size(), 1u);
    EXPECT_TRUE(view.last.front()->date.has_value());
}

TEST_F(Fetch, ScriptBasedProviderIsReportedUnavailable)
{
    Settings::setValue("provider", "UK");
    EXPECT_FALSE(fetch());
    EXPECT_TRUE(log.text().contains("not available"));
    EXPECT_EQ(buttons.calls, kButtonsAround);
}

// Grid pages of the real script: one per day, with every hour anchor.
void expectGridPages(const QString &out, const QStringList &days)
{
    for (const QString &day : days) {
        const QString page = QString(day).replace(".tgd", ".html");
        const QString html = QString::fromUtf8(readFile(out + "/" + page));
        ASSERT_FALSE(html.isEmpty()) << page.toStdString();
        EXPECT_TRUE(html.contains("xmltv2html.css"));
        EXPECT_TRUE(html.contains("popup.js"));
        EXPECT_TRUE(html.contains("data-desc="));
        for (int n = 0; n < 24; ++n)
            EXPECT_TRUE(html.contains(QStringLiteral("name=\"%1\"").arg(n)))
                << page.toStdString() << n;
        // Anchor n marks the hour (n + 22) mod 24: 2 is midnight, 8 is six in the morning.
        EXPECT_TRUE(html.contains(QRegularExpression("name=\"2\"></a>12am<")));
        EXPECT_TRUE(html.contains(QRegularExpression("name=\"8\"></a>6am<")));
        EXPECT_TRUE(html.contains(QRegularExpression("name=\"0\"></a>10pm<")));
    }
}

TEST_F(Fetch, GridPreviewsAreMadeForEveryDay)
{
    makeSample(sample(), { "--key", "NorthernNSW", "--path", "myxmltv" });
    Provider provider(sample());
    Settings::setValue("providerHost", provider.host());
    Settings::setValue("location", "Northern NSW (North)");
    Settings::setValue("generateGrid", true);

    EXPECT_TRUE(fetch());
    QString expected = kSuccessLog + "Creating grid previews...";
    for (int i = 0; i < 7; ++i)
        expected += "\nIn progress...";
    EXPECT_EQ(log.text(), expected + " Done\n");
    EXPECT_EQ(grid.loads, 1);
    EXPECT_EQ(beeps, 1);
    const QStringList days = dayFiles();
    ASSERT_EQ(days.size(), 7);
    expectGridPages(out(), days);
    // The other half of the region is left out of the pages too.
    const QString first
        = QString::fromUtf8(readFile(out() + "/" + QString(days.first()).replace(".tgd", ".html")));
    EXPECT_TRUE(first.contains(">NBN<"));
    EXPECT_FALSE(first.contains(">WIN<"));
    EXPECT_FALSE(first.contains(">10Cap<"));
}

TEST_F(Fetch, GridPreviewsFromAProgramFolderWithBlanksAndQuotes)
{
    QTemporaryDir dir;
    const QString program = dir.path() + "/Program Files/it's $HOME";
    ASSERT_TRUE(QDir().mkpath(program));
    const QString built = QStringLiteral(PALLARO_BINARY_DIR "/share/pallaro/");
    ASSERT_TRUE(QFile::copy(built + "xmltv2html.rb", program + "/xmltv2html.rb"));
    Paths::setProgramFolder(program);

    makeSample(sample(), { "--key", "Sydney", "--path", "myxmltv", "--days", "2" });
    Provider provider(sample());
    Settings::setValue("providerHost", provider.host());
    Settings::setValue("generateGrid", true);

    EXPECT_TRUE(fetch());
    const QStringList days = dayFiles();
    ASSERT_EQ(days.size(), 2);
    expectGridPages(out(), days);
}

TEST(HeadlessDownload, ExitStatusTellsWhetherDayFilesWereMade)
{
    TempHome home;
    QTemporaryDir served;
    makeSample(served.path(), { "--key", "Sydney", "--path", "myxmltv" });
    Provider provider(served.path());
    const QStringList env
        = { "HOME=" + home.path(), "XDG_DATA_HOME=" + home.path() + "/.local/share",
              "XDG_CONFIG_HOME=" + home.path() + "/.config", "TZ=Australia/Sydney" };
    QString out;
    ASSERT_EQ(runPallaro({ "--set", "providerHost=" + provider.host() }, env, &out), 0);
    EXPECT_EQ(runPallaro({ "--headless", "--download" }, env, &out), 0);
    EXPECT_TRUE(out.contains(kSuccessLog)) << out.toStdString();
    EXPECT_EQ(QDir(home.supportFolder() + "/output").entryList({ "*.tgd" }).size(), 7);

    makeSample(served.path(), { "--key", "Sydney", "--path", "myxmltv", "--empty" });
    EXPECT_NE(runPallaro({ "--headless", "--download" }, env, &out), 0);
    EXPECT_TRUE(out.contains("The guide held no programmes")) << out.toStdString();

    ASSERT_EQ(runPallaro({ "--set", "providerHost=127.0.0.1:" + QString::number(closedPort()) },
                  env, &out),
        0);
    // The older (empty) archive is converted again, and said to be older.
    EXPECT_NE(runPallaro({ "--headless", "--download" }, env, &out), 0);
    EXPECT_TRUE(out.contains("The download brought nothing")) << out.toStdString();
    ASSERT_TRUE(QFile::remove(home.supportFolder() + "/output/kR.zip"));
    EXPECT_NE(runPallaro({ "--headless", "--download" }, env, &out), 0);
    EXPECT_TRUE(out.contains(" Grabber failure\n")) << out.toStdString();
}

} // namespace
