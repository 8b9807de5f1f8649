// The download and upload commands over a private session bus (the test runs under
// dbus-run-session): the service as a window offers it, called by
// `pallaro --download --upload`.
#include "app/ScriptCommands.h"
#include "base/Clock.h"
#include "base/Settings.h"
#include "device/SoftwareRecorder.h"
#include "support/AppFixture.h"
#include "support/FixedClock.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusPendingCall>
#include <QDBusPendingReply>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace
{

class SessionBus : public AppFixture, public ::testing::Test
{
protected:
    SessionBus()
    {
        controller.awakeFromNib();
        EXPECT_EQ(commands.registerOn(), QString());
        Settings::setValue("location", "Sydney");
        recorder = SoftwareRecorder::replaceBus(disk.path());
    }
    ~SessionBus() override
    {
        QDBusConnection::sessionBus().unregisterService(ScriptCommands::service);
    }

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

// `pallaro --download --upload`, as the daily timer runs it, with a window running: the
// download ends, failed, before the upload is asked for, and the upload still runs.
TEST_F(SessionBus, CommandsAreForwardedToTheWindowOneAfterTheOther)
{
    ASSERT_TRUE(QDBusConnection::sessionBus().isConnected()) << "run under dbus-run-session";
    Settings::setValue("providerHost", "127.0.0.1:9");
    const QString day = Clock::today().addDays(1).toString("yyyyMMdd") + ".tgd";
    ASSERT_TRUE(writeFile(out() + "/" + day, "7\t2026-12-06 18:00\t30\tNews\t\t\tG\tN\r\n"));

    const Ran r
        = runServing(qEnvironmentVariable("PALLARO_EXECUTABLE"), { "--download", "--upload" });
    EXPECT_EQ(r.status, 1) << r.err.toStdString();
    EXPECT_EQ(r.out.split('\n', Qt::SkipEmptyParts),
        (QStringList { "Fetching in the running window...", "Fetch failed: see the window's log.",
            "Uploading from the running window...", "Upload finished." }));
    EXPECT_EQ(syslog.lines().filter("applescript"),
        (QStringList { "applescript epg dl", "applescript epg ul" }));
    EXPECT_EQ(recorderDays(), QStringList { day });
}

// UploadGuide over the bus answers when the upload has ended, with its result; the window
// answers other callers meanwhile, and refuses a second upload at once.
TEST_F(SessionBus, UploadGuideAnswersAtTheEndWithTheResult)
{
    ASSERT_TRUE(QDBusConnection::sessionBus().isConnected()) << "run under dbus-run-session";
    const QString day = Clock::today().addDays(1).toString("yyyyMMdd") + ".tgd";
    ASSERT_TRUE(writeFile(out() + "/" + day, "7\t2026-12-06 18:00\t30\tNews\t\t\tG\tN\r\n"));
    recorder->faults().slowAnswerMs = 100;
    QDBusConnection client = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "client");
    auto uploadGuide = [&client] {
        return client.asyncCall(QDBusMessage::createMethodCall(ScriptCommands::service,
                                    ScriptCommands::path, ScriptCommands::service, "UploadGuide"),
            60000);
    };
    auto waitFor = [](const QDBusPendingCall &call) {
        QElapsedTimer waited;
        waited.start();
        while (!call.isFinished() && waited.elapsed() < 30000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        return call.isFinished();
    };

    QDBusPendingCall first = uploadGuide();
    QElapsedTimer waited;
    waited.start();
    while (!controller.isUploading() && waited.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    ASSERT_TRUE(controller.isUploading());
    QDBusPendingCall second = uploadGuide();
    ASSERT_TRUE(waitFor(second));
    EXPECT_TRUE(second.isError());
    EXPECT_EQ(second.error().name(), "org.pallaro.Pallaro.Error.Busy");
    EXPECT_EQ(second.error().message(), "An upload is running: wait for its end, or stop it.");
    EXPECT_FALSE(first.isFinished());

    ASSERT_TRUE(waitFor(first));
    EXPECT_FALSE(controller.isUploading());
    ASSERT_FALSE(first.isError()) << first.error().message().toStdString();
    EXPECT_TRUE(first.reply().arguments().value(0).toBool());
    EXPECT_EQ(recorderDays(), QStringList { day });

    // A failed upload answers false.
    recorder->faults().absent = true;
    QDBusPendingCall failed = uploadGuide();
    ASSERT_TRUE(waitFor(failed));
    ASSERT_FALSE(failed.isError()) << failed.error().message().toStdString();
    EXPECT_FALSE(failed.reply().arguments().value(0).toBool());
    QDBusConnection::disconnectFromBus("client");
}

// `pallaro --upload` while the window uploads: refused at once, with the window's reason.
TEST_F(SessionBus, AForwardedUploadIsRefusedWhileTheWindowUploads)
{
    ASSERT_TRUE(QDBusConnection::sessionBus().isConnected()) << "run under dbus-run-session";
    for (int d = 1; d <= 3; ++d)
        ASSERT_TRUE(writeFile(out() + "/" + Clock::today().addDays(d).toString("yyyyMMdd") + ".tgd",
            QByteArray("7\t2026-12-06 18:00\t30\tNews\t\t\tG\tN\r\n").repeated(2000)));
    recorder->faults().slowAnswerMs = 300;
    bool ended = false;
    QObject::connect(&controller, &EPGController::uploadFinished, [&] { ended = true; });
    ASSERT_TRUE(controller.uploadEPG());

    const Ran r = runServing(qEnvironmentVariable("PALLARO_EXECUTABLE"), { "--upload" });
    EXPECT_TRUE(controller.isUploading()) << "the window's upload ended too soon to tell";
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err,
        "pallaro: the window did not take the upload: An upload is running: wait for its end, "
        "or stop it.\n");
    controller.stopUpload();
    QElapsedTimer waited;
    waited.start();
    while (!ended && waited.elapsed() < 30000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_TRUE(ended);
}

TEST_F(SessionBus, ASecondWindowIsToldTheNameIsTaken)
{
    QDBusConnection second = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "second");
    ScriptCommands other { &controller };
    EXPECT_EQ(other.registerOn(second),
        "Another Pallaro window answers the download and upload commands; this one does not.");
    QDBusConnection::disconnectFromBus("second");
}

} // namespace
