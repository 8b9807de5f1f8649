// A logout or shutdown ends the window program as Quit does: it writes what it holds and
// exits normally, instead of dying by the signal.
#include "base/DataFolderLock.h"
#include "base/Paths.h"
#include "support/TempHome.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>

namespace
{

TEST(WindowSignals, TermHangUpAndInterruptEndTheWindowAsQuitDoes)
{
    for (int signal : { SIGTERM, SIGHUP, SIGINT }) {
        SCOPED_TRACE(signal);
        TempHome home;
        const QString ready = Paths::applicationSupportFolder() + "/HandDecisions.json";
        QProcess window;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("DBUS_SESSION_BUS_ADDRESS"); // no other window to hand over to
        window.setProcessEnvironment(env);
        window.start(qEnvironmentVariable("PALLARO_EXECUTABLE"), {});
        ASSERT_TRUE(window.waitForStarted());
        // The decisions file is written once the window has read its rules.
        QElapsedTimer t;
        t.start();
        while (!QFileInfo::exists(ready) && t.elapsed() < 60000)
            QThread::msleep(50);
        ASSERT_TRUE(QFileInfo::exists(ready));
        ::kill(pid_t(window.processId()), signal);
        ASSERT_TRUE(window.waitForFinished(60000));
        EXPECT_EQ(window.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(window.exitCode(), 0);
        EXPECT_FALSE(QFileInfo::exists(DataFolderLock::path()));
    }
}

} // namespace
