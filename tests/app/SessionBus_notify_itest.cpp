// A windowless run that fails tells the desktop over a private session bus (the test runs
// under dbus-run-session), where this test plays the notification server; the daily run
// only after its last try, and nothing at all when no server answers.
#include "app/RunRecords.h"
#include "app/Unattended.h"
#include "support/AppFixture.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QVariantMap>
#include <gtest/gtest.h>

namespace
{

class NotificationServer : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Shown {
        QString app, summary, body;
        QVariantMap hints;
    };
    QList<Shown> shown;

public Q_SLOTS:
    uint Notify(const QString &app, uint, const QString &, const QString &summary,
        const QString &body, const QStringList &, const QVariantMap &hints, int)
    {
        shown << Shown { app, summary, body, hints };
        return uint(shown.size());
    }
};

class Notify : public ::testing::Test
{
protected:
    Notify()
    {
        // Nothing answers on the provider's port: every fetch fails at once.
        EXPECT_EQ(runPallaro({ "--set", "providerHost=127.0.0.1:9" }, {}, nullptr), 0);
    }
    void serve()
    {
        QDBusConnection bus = QDBusConnection::sessionBus();
        ASSERT_TRUE(bus.registerService("org.freedesktop.Notifications"));
        ASSERT_TRUE(bus.registerObject(
            "/org/freedesktop/Notifications", &server, QDBusConnection::ExportAllSlots));
    }
    ~Notify() override
    {
        QDBusConnection::sessionBus().unregisterObject("/org/freedesktop/Notifications");
        QDBusConnection::sessionBus().unregisterService("org.freedesktop.Notifications");
    }
    Ran fetch(const QStringList &environment = {})
    {
        return runServing(qEnvironmentVariable("PALLARO_EXECUTABLE"),
            { "--headless", "--download" }, environment);
    }

    TempHome home;
    NotificationServer server;
};

TEST_F(Notify, TheDailyRunTellsTheDesktopAfterItsLastTryOnly)
{
    ASSERT_TRUE(QDBusConnection::sessionBus().isConnected()) << "run under dbus-run-session";
    serve();
    for (int attempt = 1; attempt <= Unattended::kTries; ++attempt) {
        EXPECT_TRUE(server.shown.isEmpty()) << "before try " << attempt;
        const Ran r = fetch({ "PALLARO_DAILY_RUN=1" });
        // A failed try exits non-zero, so that systemd tries again.
        EXPECT_EQ(r.status, 1) << r.err.toStdString();
        const auto run = RunRecords::read(RunRecords::Job::Unattended);
        ASSERT_TRUE(run);
        EXPECT_EQ(run->attempt, attempt);
        EXPECT_EQ(run->by, "timer");
    }
    ASSERT_EQ(server.shown.size(), 1);
    const NotificationServer::Shown &n = server.shown.first();
    EXPECT_EQ(n.app, "Pallaro");
    EXPECT_EQ(n.summary, "Pallaro: the daily run failed");
    EXPECT_TRUE(n.body.startsWith(
        "Fetch failed: The provider host \"127.0.0.1\" refused the connection on port 9: "))
        << n.body.toStdString();
    EXPECT_TRUE(n.body.contains(QString("(tried %1 times)").arg(Unattended::kTries)));
    EXPECT_EQ(n.hints.value("desktop-entry").toString(), "org.pallaro.Pallaro");
    // The fetch's own record holds the same cause.
    const auto fetched = RunRecords::read(RunRecords::Job::Fetch);
    ASSERT_TRUE(fetched);
    EXPECT_FALSE(fetched->ok);
    EXPECT_TRUE(n.body.contains(fetched->cause));
}

TEST_F(Notify, ARunFromATerminalTellsAtOnceAndNoServerIsNoError)
{
    ASSERT_TRUE(QDBusConnection::sessionBus().isConnected()) << "run under dbus-run-session";
    Ran r = fetch();
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(r.err.contains("Notifications")) << r.err.toStdString();
    EXPECT_FALSE(r.err.contains("pallaro:")) << r.err.toStdString();

    serve();
    r = fetch();
    EXPECT_EQ(r.status, 1);
    ASSERT_EQ(server.shown.size(), 1);
    EXPECT_EQ(server.shown.first().summary, "Pallaro: a run without the window failed");
}

// With the provider down, the archive of an earlier fetch still makes day files; nothing
// new came, so the daily run fails and is tried again.
TEST_F(Notify, ADailyRunThatOnlyConvertedAnEarlierArchiveFails)
{
    QTemporaryDir provider;
    makeSample(provider.path(), { "--key", "Sydney", "--path", "myxmltv" });
    ASSERT_TRUE(QDir().mkpath(home.supportFolder() + "/output"));
    ASSERT_TRUE(QFile::copy(
        provider.path() + "/myxmltv/xmltvSydney.zip", home.supportFolder() + "/output/kR.zip"));

    Ran r = fetch({ "PALLARO_DAILY_RUN=1" });
    EXPECT_EQ(r.status, 1) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains("converting the archive of an earlier fetch"))
        << r.out.toStdString();
    EXPECT_FALSE(QDir(home.supportFolder() + "/output").entryList({ "*.tgd" }).isEmpty());
    const auto fetched = RunRecords::read(RunRecords::Job::Fetch);
    ASSERT_TRUE(fetched);
    EXPECT_FALSE(fetched->ok);
    EXPECT_TRUE(fetched->cause.startsWith("The provider host \"127.0.0.1\" refused the connection"))
        << fetched->cause.toStdString();
    EXPECT_TRUE(fetched->cause.endsWith(" day files written from the archive of an earlier fetch"))
        << fetched->cause.toStdString();

    // From a terminal the day files made are what --download promises.
    r = fetch();
    EXPECT_EQ(r.status, 0) << r.out.toStdString();
    EXPECT_FALSE(RunRecords::read(RunRecords::Job::Unattended)->ok);
}

} // namespace

#include "SessionBus_notify_itest.moc"
