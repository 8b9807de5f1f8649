#include "app/EPGController.h"
#include "app/Settings.h"
#include "app/StatusLog.h"
#include "support/TempHome.h"
#include "widgets/FadingWindow.h"
#include "widgets/IntroWindow.h"
#include "widgets/MainWindow.h"
#include "widgets/PreferencesDialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTabWidget>

#include <gtest/gtest.h>

namespace {

class RecordingScheduler : public AutoRunScheduler {
public:
    void setAutoRun(bool on) override { calls.push_back(on); }
    std::vector<bool> calls;
};

void processFor(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
}

TEST(MainWindow, BuildsAndSwitchesAllFourModes)
{
    TempHome home;
    MainWindow window;
    window.show();
    window.awakeFromNib();
    QListWidget *modes = window.modeListView();
    ASSERT_EQ(modes->count(), 4);
    const QStringList names = {"TGDs", "Keywords", "Grid", "Now on"};
    for (int row : {2, 3, 1, 0}) {
        modes->setCurrentRow(row);
        EXPECT_EQ(window.tabView()->currentIndex(), row);
        EXPECT_EQ(window.tabView()->tabText(row), names[row]);
    }
    // A button titled with a tab's identifier moves the tab and the mode list.
    window.modeController().selectTab("Grid");
    EXPECT_EQ(window.tabView()->currentIndex(), 2);
    EXPECT_EQ(modes->currentRow(), 2);
    modes->clearSelection();
    EXPECT_EQ(window.tabView()->currentIndex(), 2);

    window.statusLog()->printStatus("Uploading: x...");
    window.statusLog()->printStatus("Done\n");
    EXPECT_EQ(window.logField()->toPlainText(), "Uploading: x...Done\n");
}

TEST(MainWindow, PreferencesShowTheStoredChoiceAndApplyAutoRunOnClose)
{
    TempHome home;
    Settings::registerDefaults();
    MainWindow window;
    RecordingScheduler scheduler;
    window.controller()->setScheduler(&scheduler);
    window.show();

    window.openPrefsSheet();
    PreferencesDialog *prefs = window.prefsWindow();
    EXPECT_TRUE(prefs->isVisible());
    EXPECT_EQ(prefs->windowModality(), Qt::WindowModal);
    EXPECT_TRUE(prefs->usbRadioButton()->isChecked());

    // Every control is in force at once.
    prefs->findChild<QRadioButton *>("ftpRadioButton")->setChecked(true);
    EXPECT_EQ(Settings::string("connectionMethod"), "FTP");
    prefs->findChild<QComboBox *>("location")->setCurrentText("Central Coast");
    EXPECT_EQ(Settings::string("location"), "Central Coast");
    prefs->findChild<QCheckBox *>("autoRun")->setChecked(true);
    EXPECT_TRUE(Settings::boolean("autoRun"));

    prefs->closePrefsSheet();
    EXPECT_FALSE(prefs->isVisible());
    EXPECT_EQ(scheduler.calls, std::vector<bool>{true});
    EXPECT_EQ(prefs->result(), 1);

    // Reopening shows what was stored; the FTP choice is not the USB one.
    window.openPrefsSheet();
    EXPECT_FALSE(prefs->usbRadioButton()->isChecked());
    prefs->findChild<QCheckBox *>("autoRun")->setChecked(false);
    prefs->reject();
    EXPECT_EQ(scheduler.calls, (std::vector<bool>{true, false}));
}

TEST(MainWindow, CloseFadeEndsOnTheSeventhTickWithoutStoppingTheIntroFade)
{
    TempHome home;
    MainWindow window;
    window.show();
    window.awakeFromNib();
    ASSERT_TRUE(window.introFader()->isRunning());

    window.close(); // starts the fade instead of closing
    EXPECT_TRUE(window.isVisible());
    EXPECT_TRUE(window.closeFader()->isRunning());
    EXPECT_TRUE(window.introFader()->isRunning());

    for (int tick = 1; tick <= 6; ++tick) {
        window.closeFader()->tick();
        ASSERT_TRUE(window.isVisible()) << tick;
    }
    window.closeFader()->tick();
    EXPECT_FALSE(window.isVisible());
    EXPECT_FALSE(window.closeFader()->isRunning());
    EXPECT_TRUE(window.introFader()->isRunning());
}

TEST(MainWindow, TheIntroWindowFadesAwayInAboutHalfASecond)
{
    TempHome home;
    MainWindow window;
    window.show();
    window.awakeFromNib();
    EXPECT_TRUE(window.introWindow()->isVisible());
    processFor(1500);
    EXPECT_FALSE(window.introWindow()->isVisible());
    EXPECT_FALSE(window.introFader()->isRunning());
    EXPECT_EQ(window.introFader()->ticks(), 7);
}

} // namespace
