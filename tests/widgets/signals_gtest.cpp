// A logout or shutdown ends the window program as Quit does: it writes what it holds and
// exits normally, instead of dying by the signal.
#include "app/EPGController.h"
#include "base/Clock.h"
#include "base/DataFolderLock.h"
#include "base/Paths.h"
#include "base/Settings.h"
#include "base/TerminationSignals.h"
#include "guide/TGDFile.h"
#include "support/TempHome.h"
#include "ui/KeywordController.h"
#include "ui/TGDPickerController.h"
#include "widgets/MainWindow.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QThread>
#include <QTimer>
#include <csignal>
#include <gtest/gtest.h>
#include <unistd.h>

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

// A tick the moment before the session ends reaches its day file, though the prompt store
// has not come round to it: the window is wired here as the program wires it.
TEST(WindowSignals, ATickRightBeforeTheSignalReachesItsDayFile)
{
    TempHome home;
    Settings::registerDefaults();
    const QString output = Paths::outputFolder();
    QDir().mkpath(output);
    const QString day = Clock::today().toString("yyyyMMdd");
    const QString dayFile = output + "/" + day + ".tgd";
    ASSERT_TRUE(QFile::copy(QStringLiteral(PALLARO_TEST_DATA "/keywords/20070312.tgd"), dayFile));
    quitOnTerminationSignals(
        [] { QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection); });
    MainWindow window;
    window.show();
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, &window,
        [&window] { window.controller()->applicationWillTerminate(); });
    window.controller()->loadExistingTGDs(Clock::today());
    KeywordController *kwc = window.keywordController();
    ASSERT_TRUE(kwc->runReloadCycle(QString()));
    kwc->setEditStoreDelay(10 * 60 * 1000); // only the quit can write it in time
    const TGDEntryList all = kwc->allTGDEntries();
    ASSERT_GE(all.size(), 3u);
    const TGDEntryPtr ticked = all.at(2);
    ASSERT_FALSE(ticked->record);

    window.programmeTable()->setObjectValue(ticked, "record", true);
    ::kill(::getpid(), SIGTERM);
    QTimer::singleShot(60000, qApp, [] { QCoreApplication::exit(1); }); // the signal was lost
    EXPECT_EQ(QApplication::exec(), 0);

    int marked = 0;
    for (const TGDEntryPtr &e : TGDFile::parse(readFile(dayFile), day)) {
        const bool isTicked = e->channel == ticked->channel && e->rawStart == ticked->rawStart;
        EXPECT_EQ(e->recordStatus != "N", isTicked) << e->title.toStdString();
        marked += isTicked;
    }
    EXPECT_EQ(marked, 1);
}

} // namespace
