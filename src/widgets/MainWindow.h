#pragma once

#include "app/AutoRun.h"
#include "app/Collaborators.h"
#include "ui/ModeController.h"

#include <QMainWindow>
#include <memory>
#include <utility>
#include <vector>

class DayListModel;
class GridController;
class GridPane;
class NowOnController;
class NowOnPane;
class QAction;
class QSplitter;
class QTableView;
class ScriptCommands;
class EPGController;
class KeywordController;
class KeywordRuleModel;
class KeywordRuleTable;
class ProgrammeView;
class TGDPickerController;
class IntroWindow;
class PreferencesDialog;
class RunNotesBar;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
class SourceListController;
class StatusLog;
class WindowFader;

// The single main window: mode list, guide-day list, the four mode pages, the StatusLog and
// the menus. It owns the controllers and adapts them to widgets; the logic lives in the core.
class MainWindow : public QMainWindow, public ModeView, public FetchButtons {
    Q_OBJECT
public:
    MainWindow();
    ~MainWindow() override;

    // The start-up sequence: window look, controller start-up, intro fade. Call once.
    void awakeFromNib();

    EPGController *controller() const { return controller_.get(); }
    StatusLog *statusLog() const { return log_; }
    SourceListController *sourceList() const { return slc_; }
    KeywordController *keywordController() const { return kwc_; }
    KeywordRuleTable *ruleTable() const { return ruleTable_.get(); }
    KeywordRuleModel *ruleModel() const { return ruleModel_; }
    TGDPickerController *programmeTable() const { return programmes_; }
    ProgrammeView *programmeView() const { return programmeView_; }
    ModeController &modeController() { return modes_; }
    PreferencesDialog *prefsWindow() const { return prefs_; }
    QTabWidget *tabView() const { return tabView_; }
    QListWidget *modeListView() const { return modeList_; }
    QPlainTextEdit *logField() const { return logField_; }
    IntroWindow *introWindow() const { return intro_; }
    WindowFader *introFader() const { return introFader_; }
    WindowFader *closeFader() const { return closeFader_; }
    QPushButton *fetchButton() const { return fetchButton_; }
    QPushButton *uploadButton() const { return uploadButton_; }
    QTableView *dayListView() const { return dayList_; }
    GridController *gridController() const { return grid_; }
    GridPane *gridPane() const { return gridPane_; }
    NowOnController *nowOnController() const { return nowOn_; }
    NowOnPane *nowOnPane() const { return nowOnPane_; }
    QAction *deleteCacheAction() const { return deleteCacheAction_; }
    // How the last unattended run and the guide stand; hidden when all is well.
    RunNotesBar *runNotes() const { return runNotes_; }

    void openPrefsSheet();
    // Upload, or stop the upload that runs.
    void uploadOrStop();
    // Asks first; on yes every downloaded day, grid page and script cache goes.
    void confirmDeleteCache();

    // ModeView
    void showTab(int index) override;
    int tabIndexForIdentifier(const QString &identifier) const override;
    void selectModeRow(int row) override;

    // FetchButtons
    void setFetchButton(bool enabled, const QString &title) override;
    void setUploadButton(bool enabled, const QString &title) override;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    // The rule table with its buttons over the selected rules' matches.
    QWidget *keywordPage();
    // (key, shown name) of each channel of the loaded guide, by key.
    std::vector<std::pair<QString, QString>> guideChannels() const;
    QWidget *dayListBox();
    QWidget *statusBox();
    void buildMenus();
    // The day list's selection into the programme table (and the grid's page).
    void showSelectedDays();
    // After the day list changed: the chosen days selected again (or the first current
    // day), and the programme table showing what the page in front asks for.
    void restoreDaySelection();
    // The programme table shows the chosen days, or on the rule page the rules' matches.
    void showPageChoice();
    // The last windowless run's outcome and the guide's end, from the data folder.
    void showRunNotes();
    // Window size and splitter positions, kept between runs.
    void restoreWindowState();
    void saveWindowState() const;
    // Each mode and the preferences as PNGs into `folder`, then quit (scripts/screenshots).
    void takeScreenshots(const QString &folder);

    StatusLog *log_;
    SourceListController *slc_;
    std::unique_ptr<EPGController> controller_;
    SystemdAutoRun scheduler_;
    std::unique_ptr<ScriptCommands> commands_;
    TGDPickerController *programmes_ = nullptr;
    KeywordController *kwc_ = nullptr;
    std::unique_ptr<KeywordRuleTable> ruleTable_;
    KeywordRuleModel *ruleModel_ = nullptr;
    DayListModel *dayModel_ = nullptr;
    QTableView *dayList_ = nullptr;
    GridController *grid_ = nullptr;
    GridPane *gridPane_ = nullptr;
    NowOnController *nowOn_ = nullptr;
    NowOnPane *nowOnPane_ = nullptr;
    QSplitter *mainSplit_ = nullptr;
    QSplitter *rightSplit_ = nullptr;
    QAction *fetchAction_ = nullptr;
    QAction *uploadAction_ = nullptr;
    QAction *deleteCacheAction_ = nullptr;
    ProgrammeView *programmeView_ = nullptr;
    ModeController modes_;
    QListWidget *modeList_ = nullptr;
    QTabWidget *tabView_ = nullptr;
    QPlainTextEdit *logField_ = nullptr;
    QPushButton *fetchButton_ = nullptr;
    QPushButton *uploadButton_ = nullptr;
    PreferencesDialog *prefs_ = nullptr;
    RunNotesBar *runNotes_ = nullptr;
    IntroWindow *intro_ = nullptr;
    WindowFader *introFader_ = nullptr;
    WindowFader *closeFader_ = nullptr;
    bool fadedOut_ = false;
    // The days whose programmes (and grid page) the window last asked for.
    QStringList shownDays_;
};
