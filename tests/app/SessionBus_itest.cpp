// The download and upload commands over a private session bus (the test runs under
// dbus-run-session): the service as a window offers it, called by gdbus and by
// `pallaro --download --upload`.
#include "app/ScriptCommands.h"
#include "base/Settings.h"
#include "device/SoftwareRecorder.h"
#include "support/AppFixture.h"

#include <QDBusConnectionInterface>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

struct Ran {
    int status = -1;
    QString out, err;
};

// Runs a program to its end while this process goes on answering on the bus.
Ran runServing(const QString &program, const QStringList &arguments)
{
    QProcess p;
    p.start(program, arguments);
    EXPECT_TRUE(p.waitForStarted());
    QElapsedTimer t;
    t.start();
    while (p.state() != QProcess::NotRunning && t.elapsed() < 120000)
        processFor(20);
    Ran r;
    if (p.state() != QProcess::NotRunning) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

Ran gdbusCall(const QString &method, const QStringList &arguments = {})
{
    return runServing("gdbus",
        QStringList { "call", "--session", "--dest", ScriptCommands::service, "--object-path",
            ScriptCommands::path, "--method", method } + arguments);
}

class SessionBus : public AppFixture, public ::testing::Test {
protected:
    SessionBus()
    {
        controller.awakeFromNib();
        EXPECT_EQ(commands.registerOn(), QString());
        Settings::setValue("location", "Sydney");
        recorder = SoftwareRecorder::replaceBus(disk.path());
    }
    ~SessionBus() override { QDBusConnection::sessionBus().unregisterService(ScriptCommands::service); }

    QStringList recorderDays() const
    {
        QStringList days;
        QDirIterator it(disk.path(), { "*.tgd" }, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            days << QFileInfo(it.next()).fileName();
        days.sort();
        return days;
    }

    ScriptCommands commands { &controller };
    QTemporaryDir disk;
    std::shared_ptr<SoftwareRecorder> recorder;
};

TEST_F(SessionBus, DownloadAnswersAtOnceAndTheFetchGoesOn)
{
    ASSERT_TRUE(QDBusConnection::sessionBus().isConnected()) << "run under dbus-run-session";
    StallingServer provider;
    Settings::setValue("providerHost", provider.host());

    const Ran answer = gdbusCall("org.pallaro.Pallaro.DownloadGuide");
    EXPECT_EQ(answer.out.trimmed(), "(true,)") << answer.err.toStdString();
    EXPECT_TRUE(syslog.lines().contains("applescript epg dl"));
    const Ran fetching = gdbusCall("org.freedesktop.DBus.Properties.Get",
        { ScriptCommands::service, "Fetching" });
    EXPECT_EQ(fetching.out.trimmed(), "(<true>,)");
    EXPECT_EQ(log.text(), "Downloading...\n");

    bool finished = false;
    QObject::connect(&commands, &ScriptCommands::FetchFinished, [&](bool ok) {
        EXPECT_FALSE(ok);
        finished = true;
    });
    ASSERT_TRUE(provider.waitForRequest());
    provider.answer("not an archive");
    for (int i = 0; i < 500 && !finished; ++i)
        processFor(20);
    EXPECT_TRUE(finished);
    EXPECT_TRUE(log.text().startsWith("Downloading...\nUnzipping...\n")) << log.text().toStdString();
}

TEST_F(SessionBus, UploadAnswersWhenTheFilesAreStored)
{
    QTemporaryDir served;
    makeSample(served.path(), { "--key", "Sydney", "--path", "myxmltv", "--days", "2" });
    SampleServer provider(served.path());
    Settings::setValue("providerHost", provider.host());
    ASSERT_TRUE(fetch()) << log.text().toStdString();

    const Ran answer = gdbusCall("org.pallaro.Pallaro.UploadGuide");
    EXPECT_EQ(answer.out.trimmed(), "(true,)") << answer.err.toStdString();
    EXPECT_TRUE(syslog.lines().contains("applescript epg ul"));
    EXPECT_EQ(recorderDays(), outputFiles({ "*.tgd" }));
}

struct Forwarded {
    const char *name;
    bool serverUp;
    QStringList arguments;
    int status;
    QStringList out;
};

class ForwardedToTheWindow : public SessionBus, public ::testing::WithParamInterface<Forwarded> {};

// `pallaro --download --upload`, as the daily timer runs it, with a window running.
TEST_P(ForwardedToTheWindow, DownloadEndsBeforeTheUploadIsAskedFor)
{
    const Forwarded &c = GetParam();
    QTemporaryDir served;
    makeSample(served.path(), { "--key", "Sydney", "--path", "myxmltv", "--days", "2" });
    std::optional<SampleServer> provider;
    if (c.serverUp)
        provider.emplace(served.path());
    Settings::setValue("providerHost", provider ? provider->host() : "127.0.0.1:9");

    const Ran r = runServing(qEnvironmentVariable("PALLARO_EXECUTABLE"), c.arguments);
    EXPECT_EQ(r.status, c.status) << r.err.toStdString();
    EXPECT_EQ(r.out.split('\n', Qt::SkipEmptyParts), c.out);
    const QStringList commands = syslog.lines().filter("applescript");
    EXPECT_EQ(commands.size(), c.arguments.size());
    EXPECT_EQ(recorderDays(), outputFiles({ "*.tgd" }));
    if (c.serverUp) {
        EXPECT_EQ(outputFiles({ "*.tgd" }).size(), 2);
    }
}

INSTANTIATE_TEST_SUITE_P(Commands, ForwardedToTheWindow,
    ::testing::Values(
        Forwarded { "Both", true, { "--download", "--upload" }, 0,
            { "Fetching in the running window...", "Fetch finished.",
                "Uploading from the running window...", "Upload finished." } },
        Forwarded { "FailedDownloadStillUploads", false, { "--download", "--upload" }, 1,
            { "Fetching in the running window...", "Fetch failed: see the window's log.",
                "Uploading from the running window...", "Upload finished." } }),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(SessionBus, ASecondWindowIsToldTheNameIsTaken)
{
    QDBusConnection second = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "second");
    ScriptCommands other { &controller };
    EXPECT_EQ(other.registerOn(second),
        "Another Pallaro window answers the download and upload commands; this one does not.");
    QDBusConnection::disconnectFromBus("second");
}

} // namespace
