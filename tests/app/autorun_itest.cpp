#include "app/AutoRun.h"
#include "app/Unattended.h"
#include "support/TempHome.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace
{

// A systemctl first on PATH that records its arguments, one call per line, and answers
// with the exit status in the file "status" beside it (0 when absent).
class RecordingSystemctl
{
public:
    RecordingSystemctl()
    {
        const QString script = bin() + "/systemctl";
        writeFile(script,
            "#!/bin/sh\n"
            "echo \"$*\" >> \"$(dirname \"$0\")/calls\"\n"
            "status=$(cat \"$(dirname \"$0\")/status\" 2>/dev/null || echo 0)\n"
            "[ \"$status\" = 0 ] || echo 'Failed to connect to bus' >&2\n"
            "exit \"$status\"\n");
        QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    QString bin() const { return dir_.path(); }
    QStringList takeCalls()
    {
        const QStringList calls
            = QString::fromUtf8(readFile(bin() + "/calls")).split('\n', Qt::SkipEmptyParts);
        QFile::remove(bin() + "/calls");
        return calls;
    }
    void failWith(int status) { writeFile(bin() + "/status", QByteArray::number(status)); }

private:
    QTemporaryDir dir_;
};

class AutoRun : public ::testing::Test
{
protected:
    // Runs `pallaro --set` in Sydney with the recorder first on PATH.
    int set(const QString &assignment, QString *err = nullptr, const QString &path = {})
    {
        QString out;
        return runPallaro({ "--set", assignment },
            { "TZ=Australia/Sydney",
                "PATH=" + (path.isNull() ? systemctl.bin() + ":/usr/bin:/bin" : path) },
            &out, err);
    }
    QString unit(const char *name) const
    {
        return QString::fromUtf8(readFile(home.path() + "/.config/systemd/user/" + name));
    }

    TempHome home;
    RecordingSystemctl systemctl;
};

const QStringList kInstall = { "--user daemon-reload", "--user enable --now pallaro-daily.timer",
    "--user restart pallaro-daily.timer" };
const QStringList kRemove = { "--user disable --now pallaro-daily.timer", "--user daemon-reload" };

TEST_F(AutoRun, OnWritesBothUnitsAndStartsTheTimerOffRemovesThem)
{
    // The default time, 2001-01-01 00:00 UTC, was 11:00 in Sydney's summer.
    ASSERT_EQ(set("autoRun=YES"), 0);
    EXPECT_EQ(systemctl.takeCalls(), kInstall);
    EXPECT_TRUE(unit("pallaro-daily.timer").contains("OnCalendar=*-*-* 11:00:00\n"));
    EXPECT_TRUE(unit("pallaro-daily.timer").contains("Persistent=true\n"));
    const QString service = unit("pallaro-daily.service");
    EXPECT_TRUE(service.contains("WorkingDirectory=" + home.supportFolder() + "\n"))
        << service.toStdString();
    EXPECT_TRUE(service.contains(
        "ExecStart=\"" + qEnvironmentVariable("PALLARO_EXECUTABLE") + "\" --download --upload\n"))
        << service.toStdString();
    // A failed run is tried again, as many times as the run counts its tries.
    for (const QString &line :
        { QString("Restart=on-failure"), QString("StartLimitBurst=%1").arg(Unattended::kTries),
            QString("RestartSec=%1").arg(Unattended::kRetrySeconds),
            QString("StartLimitIntervalSec=%1").arg(Unattended::kTriesWindowSeconds),
            QString("Environment=PALLARO_DAILY_RUN=1") })
        EXPECT_TRUE(service.contains(line + "\n")) << line.toStdString();

    // A new time rewrites the timer and restarts it.
    ASSERT_EQ(set("autoRunTime=06:05"), 0);
    EXPECT_EQ(systemctl.takeCalls(), kInstall);
    EXPECT_TRUE(unit("pallaro-daily.timer").contains("OnCalendar=*-*-* 06:05:00\n"));

    ASSERT_EQ(set("autoRun=NO"), 0);
    EXPECT_EQ(systemctl.takeCalls(), kRemove);
    EXPECT_FALSE(QFile::exists(home.path() + "/.config/systemd/user/pallaro-daily.timer"));
    EXPECT_FALSE(QFile::exists(home.path() + "/.config/systemd/user/pallaro-daily.service"));

    // Nothing installed: nothing to ask systemd.
    ASSERT_EQ(set("autoRun=NO"), 0);
    EXPECT_TRUE(systemctl.takeCalls().isEmpty());
}

TEST_F(AutoRun, SystemctlFailuresAreSaidButDoNotStopTheSetting)
{
    systemctl.failWith(1);
    QString err;
    ASSERT_EQ(set("autoRun=YES", &err), 0);
    EXPECT_EQ(systemctl.takeCalls(), kInstall);
    EXPECT_EQ(err.count('\n'), 3) << err.toStdString();
    EXPECT_TRUE(err.startsWith("pallaro: systemctl --user daemon-reload failed: Failed to connect "
                               "to bus\n"))
        << err.toStdString();
    EXPECT_FALSE(unit("pallaro-daily.timer").isEmpty());

    const QString empty = home.path() + "/nothing-here";
    QDir().mkpath(empty);
    ASSERT_EQ(set("autoRunTime=07:00", &err, empty), 0);
    EXPECT_EQ(err, "pallaro: systemctl is not on PATH: the daily run is not scheduled\n");
    EXPECT_TRUE(unit("pallaro-daily.timer").contains("07:00:00"));
}

TEST_F(AutoRun, WrittenUnitsPassSystemdVerification)
{
    const QString analyze = QStandardPaths::findExecutable("systemd-analyze");
    if (analyze.isEmpty())
        GTEST_SKIP() << "systemd-analyze is not installed";
    ASSERT_EQ(set("autoRunTime=06:05"), 0);
    ASSERT_EQ(set("autoRun=YES"), 0);
    QDir().mkpath(home.supportFolder());
    const QString folder = home.path() + "/.config/systemd/user/";
    QProcess verify;
    // A user manager's checks need a runtime folder of their own.
    QTemporaryDir runtime;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_RUNTIME_DIR", runtime.path());
    verify.setProcessEnvironment(env);
    verify.start(analyze,
        { "--user", "verify", folder + "pallaro-daily.timer", folder + "pallaro-daily.service" });
    ASSERT_TRUE(verify.waitForFinished(30000));
    EXPECT_EQ(verify.exitCode(), 0) << verify.readAllStandardError().toStdString();
}

// A home or program path with systemd specifiers or quotes must reach the unit unchanged.
TEST(AutoRunTemplate, SpecifiersAndQuotesAreEscaped)
{
    const QDateTime time(QDate(2001, 1, 1), QTime(6, 5), Qt::LocalTime);
    EXPECT_EQ(SystemdAutoRun::fillTemplate(
                  "$APPSUPPORT $HOUR:$MINUTE \"$PALLARO\"", "/home/100%", time, "/opt/a \"b\"\\c"),
        "/home/100%% 06:05 \"/opt/a \\\"b\\\"\\\\c\"");
}

} // namespace
