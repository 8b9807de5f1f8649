// The install tree as a distribution lays it out: installed into a temporary prefix, its
// desktop files accepted by the desktop's validators, and the installed copy running its
// main job (a fetch with grid pages from a loopback provider) away from the source and
// build trees, with its daily run naming the installed command.
#include "base/Clock.h"
#include "support/AppFixture.h"
#include "support/FixedClock.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace
{

struct Finished {
    int status = -1;
    QString out, err;
};

// Runs a program in `folder`, its clock at the test's, with environment additions.
Finished run(const QString &program, const QStringList &arguments, const QString &folder,
    const QStringList &environment = {})
{
    QProcess p;
    useFixedClock(p, environment);
    p.setWorkingDirectory(folder);
    p.start(program, arguments);
    Finished r;
    if (!p.waitForFinished(180000)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
    r.err = QString::fromLocal8Bit(p.readAllStandardError());
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return r;
}

class Installed : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        prefix = new QTemporaryDir;
        const Finished r = run(PALLARO_CMAKE_COMMAND,
            { "--install", PALLARO_BINARY_DIR, "--prefix", prefix->path() }, QDir::tempPath());
        installed = r.status == 0;
        if (!installed)
            std::fprintf(stderr, "%s%s", qPrintable(r.out), qPrintable(r.err));
    }
    static void TearDownTestSuite() { delete prefix; }
    void SetUp() override { ASSERT_TRUE(installed) << "cmake --install failed"; }

    static QString at(const QString &relative) { return prefix->path() + "/" + relative; }
    // The installed command, run from a folder of its own with only the system on PATH.
    Finished pallaro(const QStringList &arguments, const QString &path = "/usr/bin:/bin")
    {
        return run(at("bin/pallaro"), arguments, away.path(), { "PATH=" + path });
    }

    static inline QTemporaryDir *prefix = nullptr;
    static inline bool installed = false;
    TempHome home;
    QTemporaryDir away;
};

TEST_F(Installed, TheTreeHoldsWhatTheDesktopLooksFor)
{
    for (const char *file : { "bin/pallaro", "share/pallaro/xmltv2html.rb",
             "share/pallaro/resources/pallaro-daily.service",
             "share/icons/hicolor/scalable/apps/org.pallaro.Pallaro.svg",
             "share/icons/hicolor/48x48/apps/org.pallaro.Pallaro.png",
             "share/man/man1/pallaro.1.gz", "share/bash-completion/completions/pallaro",
             "lib/udev/rules.d/70-pallaro.rules", "share/doc/pallaro/copyright" })
        EXPECT_TRUE(QFile::exists(at(file))) << file;
    // A build without the window (the ThreadSanitizer one) installs none.
    EXPECT_EQ(QFile::exists(at("bin/pallaro-window")), bool(PALLARO_WINDOW_BUILT));
    EXPECT_TRUE(QString::fromUtf8(readFile(at("lib/udev/rules.d/70-pallaro.rules")))
                    .contains("ATTR{idVendor}==\"11db\", ATTR{idProduct}==\"1000\", "
                              "TAG+=\"uaccess\""));

    const struct {
        const char *tool;
        QStringList arguments;
    } validators[] = {
        { "desktop-file-validate", { at("share/applications/org.pallaro.Pallaro.desktop") } },
        { "appstreamcli",
            { "validate", "--no-net", at("share/metainfo/org.pallaro.Pallaro.metainfo.xml") } },
    };
    for (const auto &v : validators) {
        const QString tool = QStandardPaths::findExecutable(v.tool);
        ASSERT_FALSE(tool.isEmpty()) << v.tool << " is not installed (scripts/install-deps)";
        const Finished r = run(tool, v.arguments, away.path());
        EXPECT_EQ(r.status, 0) << v.tool << ": " << r.out.toStdString() << r.err.toStdString();
        // desktop-file-validate says nothing of a good file, hints included.
        if (QString(v.tool) == "desktop-file-validate") {
            EXPECT_TRUE(r.out.isEmpty()) << r.out.toStdString();
        }
    }
}

TEST_F(Installed, TheInstalledCopyFetchesWithGridPagesAwayFromTheTrees)
{
    QTemporaryDir provider;
    makeSample(provider.path(), { "--key", "NorthernNSW", "--path", "myxmltv" });
    SampleServer server(provider.path());
    for (const QString &setting : { "providerHost=" + server.host(),
             QString("location=Northern NSW (North)"), QString("generateGrid=YES") })
        ASSERT_EQ(pallaro({ "--set", setting }).status, 0) << setting.toStdString();

    const Finished r = pallaro({ "--headless", "--download" });
    ASSERT_EQ(r.status, 0) << r.out.toStdString() << r.err.toStdString();

    const QDir output(home.supportFolder() + "/output");
    const QString today = Clock::today().toString("yyyyMMdd");
    EXPECT_GE(output.entryList({ "*.tgd" }, QDir::Files).size(), 7);
    EXPECT_TRUE(output.exists(today + ".tgd"));
    // The grid pages come from the installed script and support files.
    EXPECT_TRUE(output.exists(today + ".html")) << output.entryList().join(' ').toStdString();
    EXPECT_TRUE(output.exists("xmltv2html.css"));
    EXPECT_EQ(readFile(home.supportFolder() + "/channelmap.ini"),
        readFile(at("share/pallaro/channelmap.ini")));
    // Nothing was looked for in, or written to, the trees this copy came from.
    EXPECT_FALSE(r.out.contains(PALLARO_SOURCE_DIR)) << r.out.toStdString();
    EXPECT_FALSE(r.out.contains(PALLARO_BINARY_DIR)) << r.out.toStdString();
    EXPECT_TRUE(QDir(away.path()).isEmpty());

    const Finished status = pallaro({ "--status" });
    EXPECT_EQ(status.status, 0) << status.out.toStdString();
    EXPECT_TRUE(status.out.contains("(without the window): succeeded: "))
        << status.out.toStdString();
}

TEST_F(Installed, TheDailyRunNamesTheInstalledCommand)
{
    QTemporaryDir bin;
    ASSERT_TRUE(writeFile(bin.path() + "/systemctl", "#!/bin/sh\nexit 0\n"));
    QFile::setPermissions(bin.path() + "/systemctl", QFile::ReadOwner | QFile::ExeOwner);
    ASSERT_EQ(pallaro({ "--set", "autoRun=YES" }, bin.path() + ":/usr/bin:/bin").status, 0);
    const QString service
        = QString::fromUtf8(readFile(home.path() + "/.config/systemd/user/pallaro-daily.service"));
    EXPECT_TRUE(service.contains("ExecStart=\"" + at("bin/pallaro") + "\" --download --upload\n"))
        << service.toStdString();
}

} // namespace
