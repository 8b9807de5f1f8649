// What a new user meets in the first hour: the start with no guide, the day selection that
// holds through every refresh and restart, the keyboard and the smallest window.
#include "app/EPGController.h"
#include "base/Clock.h"
#include "base/Paths.h"
#include "base/Settings.h"
#include "support/TempHome.h"
#include "ui/GridController.h"
#include "ui/KeywordController.h"
#include "ui/SourceListController.h"
#include "widgets/FadingWindow.h"
#include "widgets/KeywordRuleModel.h"
#include "widgets/MainWindow.h"
#include "widgets/PreferencesDialog.h"
#include "widgets/ProgrammeView.h"
#include "widgets/RunNotesBar.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QTest>
#include <gtest/gtest.h>

namespace
{

const char *const kWeek[] = { "20070312.tgd", "20070313.tgd", "20070314.tgd" };

QString dayName(int offset)
{
    return Clock::today().addDays(offset).toString("yyyyMMdd");
}

// The keyword fixtures as the guide of today and the next days (`offsets` from today).
bool installDays(const std::vector<int> &offsets)
{
    QDir().mkpath(Paths::outputFolder());
    for (size_t i = 0; i < offsets.size(); ++i) {
        const QString to = Paths::outputFolder() + "/" + dayName(offsets[i]) + ".tgd";
        QFile::remove(to);
        if (!QFile::copy(QStringLiteral(PALLARO_TEST_DATA "/keywords/") + kWeek[i % 3], to))
            return false;
    }
    return true;
}

// A scan and a reload cycle, as the end of a fetch runs them.
bool refresh(MainWindow &window)
{
    window.controller()->loadExistingTGDs(Clock::today());
    const bool ok = window.keywordController()->runReloadCycle(QString());
    QApplication::processEvents();
    return ok;
}

std::vector<int> selectedDayRows(MainWindow &window)
{
    std::vector<int> rows;
    for (const QModelIndex &i : window.dayListView()->selectionModel()->selectedRows())
        rows.push_back(i.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

// The days whose programmes the table shows, in table order without repeats.
QStringList shownDays(MainWindow &window)
{
    QStringList days;
    for (const TGDEntryPtr &e : window.programmeView()->model()->list())
        if (!days.contains(e->fileNameDataIsFrom))
            days << e->fileNameDataIsFrom;
    days.sort();
    return days;
}

void closeNow(MainWindow &window)
{
    window.close();
    while (window.closeFader()->isRunning())
        window.closeFader()->tick();
}

TEST(FirstHour, RowsToSelectAfterTheListChanged)
{
    struct Case {
        const char *name;
        std::vector<int> listed; // day offsets from today, in list order
        std::vector<int> remembered; // day offsets
        std::vector<int> expected; // rows
    };
    const Case cases[] = {
        { "nothing chosen yet: today", { 0, 1, 2 }, {}, { 0 } },
        { "chosen days still listed", { 0, 1, 2, 3 }, { 1, 3 }, { 1, 3 } },
        { "one of them gone", { 1, 2 }, { 0, 2 }, { 1 } },
        { "all gone: the first day from today", { -1, 0, 1 }, { -2 }, { 1 } },
        { "the guide lies in the past", { -2, -1 }, {}, {} },
        { "no list", {}, { 0 }, {} },
    };
    for (const Case &c : cases) {
        SourceListController slc;
        GuideDayRows rows;
        for (int offset : c.listed) {
            auto row = std::make_shared<GuideDayRow>();
            row->rawDate = dayName(offset) + ".tgd";
            rows.push_back(row);
        }
        slc.setFileList(rows);
        QStringList remembered;
        for (int offset : c.remembered)
            remembered << dayName(offset);
        slc.setSelectedDays(remembered);
        EXPECT_EQ(slc.rowsToSelect(Clock::today()), c.expected) << c.name;
    }
}

// A fetch's placeholder row selects nothing and forgets nothing.
TEST(FirstHour, ThePlaceholderRowKeepsTheChosenDays)
{
    SourceListController slc;
    auto day = std::make_shared<GuideDayRow>();
    day->rawDate = dayName(1) + ".tgd";
    day->date = Clock::today().addDays(1).toString("ddMMyyyy");
    slc.setFileList({ std::make_shared<GuideDayRow>(), day });
    slc.tableViewSelectionDidChange({ 1 }, 1);
    EXPECT_EQ(slc.selectedDays(), QStringList { dayName(1) });

    auto placeholder = std::make_shared<GuideDayRow>();
    placeholder->file = "Loading...";
    slc.setFileList({ placeholder });
    slc.tableViewSelectionDidChange({}, -1);
    EXPECT_EQ(slc.selectedDays(), QStringList { dayName(1) });
    EXPECT_TRUE(slc.rowsToSelect(Clock::today()).empty());
}

TEST(FirstHour, TheDaySelectionHoldsThroughRefreshesAndRestarts)
{
    TempHome home;
    Settings::registerDefaults();
    ASSERT_TRUE(installDays({ 0, 1, 2 }));
    {
        MainWindow window;
        window.show();
        ASSERT_TRUE(refresh(window));
        // The first current day is chosen for the user: the table is not empty.
        EXPECT_EQ(selectedDayRows(window), std::vector<int> { 0 });
        EXPECT_EQ(shownDays(window), QStringList { dayName(0) });

        window.dayListView()->selectionModel()->select(
            QItemSelection(window.dayListView()->model()->index(1, 0),
                window.dayListView()->model()->index(2, 2)),
            QItemSelectionModel::ClearAndSelect);
        const QStringList chosen = { dayName(1), dayName(2) };
        EXPECT_EQ(shownDays(window), chosen);

        // A scan with its reload (a fetch's end), a write-out (an upload's start), a rescan
        // that loses a chosen day's neighbour: the chosen days stay chosen and shown.
        ASSERT_TRUE(refresh(window));
        EXPECT_EQ(selectedDayRows(window), (std::vector<int> { 1, 2 }));
        EXPECT_EQ(shownDays(window), chosen);
        window.keywordController()->writeOutData();
        QApplication::processEvents();
        EXPECT_EQ(shownDays(window), chosen);
        // A count that changes leaves the grid page where the user scrolled it.
        for (int day = 0; day <= 2; ++day)
            ASSERT_TRUE(writeFile(Paths::outputFolder() + "/" + dayName(day) + ".html", "<p>"));
        window.gridController()->loadPages();
        int pagesShown = 0;
        QObject::connect(window.gridController(), &GridController::showUrl, [&] { ++pagesShown; });
        window.sourceList()->setCount(5, dayName(1));
        QApplication::processEvents();
        EXPECT_EQ(pagesShown, 0);
        EXPECT_EQ(selectedDayRows(window), (std::vector<int> { 1, 2 }));
        ASSERT_TRUE(QFile::remove(Paths::outputFolder() + "/" + dayName(0) + ".tgd"));
        ASSERT_TRUE(refresh(window));
        EXPECT_EQ(selectedDayRows(window), (std::vector<int> { 0, 1 }));
        EXPECT_EQ(shownDays(window), chosen);
        closeNow(window);
    }
    MainWindow again;
    again.show();
    ASSERT_TRUE(refresh(again));
    EXPECT_EQ(selectedDayRows(again), (std::vector<int> { 0, 1 }));
    EXPECT_EQ(shownDays(again), QStringList({ dayName(1), dayName(2) }));
}

TEST(FirstHour, AFirstStartSaysWhatToDoAndOpensThePreferences)
{
    TempHome home;
    Settings::registerDefaults();
    MainWindow window;
    window.show();
    window.awakeFromNib();
    RunNotesBar *notes = window.runNotes();
    auto *preferences = notes->findChild<QPushButton *>("runNotesPreferences");
    ASSERT_TRUE(preferences);
    EXPECT_TRUE(notes->isVisible());
    EXPECT_TRUE(notes->text().contains("Preferences")) << notes->text().toStdString();
    EXPECT_TRUE(notes->text().contains("Fetch")) << notes->text().toStdString();
    EXPECT_FALSE(notes->isAlarming());
    EXPECT_TRUE(preferences->isVisible());

    preferences->click();
    EXPECT_TRUE(window.prefsWindow()->isVisible());
    Settings::setValue("providerHost", "guide.example.net");
    window.prefsWindow()->closePrefsSheet();
    // The provider is set: what is left is the fetch.
    EXPECT_FALSE(preferences->isVisible());
    EXPECT_EQ(notes->text(), "There is no guide for today or later: fetch it.");
    closeNow(window);
}

TEST(FirstHour, AGuideOrAScriptFetchNeedsNoSetUp)
{
    for (const bool guide : { true, false }) {
        TempHome home;
        Settings::registerDefaults();
        if (guide)
            ASSERT_TRUE(installDays({ 0, 1, 2 }));
        else
            Settings::setValue("provider", "UK");
        MainWindow window;
        window.show();
        window.awakeFromNib();
        EXPECT_FALSE(
            window.runNotes()->findChild<QPushButton *>("runNotesPreferences")->isVisible())
            << guide;
        closeNow(window);
    }
}

TEST(FirstHour, TheKeyboardMovesBetweenAreasTicksAndClearsTheSearch)
{
    TempHome home;
    Settings::registerDefaults();
    ASSERT_TRUE(installDays({ 0 }));
    MainWindow window;
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    ASSERT_TRUE(refresh(window));
    QTableView *table = window.programmeView()->tableView();
    ProgrammeModel *model = window.programmeView()->model();
    ASSERT_GT(model->rowCount(), 2);

    // Tab leaves a table after one press, whichever table it is.
    for (QTableView *view : { window.dayListView(), table }) {
        view->setFocus();
        view->setCurrentIndex(view->model()->index(0, 0));
        QTest::keyClick(view, Qt::Key_Tab);
        EXPECT_NE(QApplication::focusWidget(), view) << view->objectName().toStdString();
    }

    // Space ticks and unticks the current row, whatever column is current.
    const int title = int(ProgrammeModel::columnKeys().indexOf("title"));
    table->setFocus();
    table->setCurrentIndex(model->index(1, title));
    const QModelIndex tick = model->index(1, 0);
    ASSERT_EQ(tick.data(Qt::CheckStateRole), Qt::Unchecked);
    QTest::keyClick(table, Qt::Key_Space);
    EXPECT_EQ(tick.data(Qt::CheckStateRole), Qt::Checked);
    EXPECT_TRUE(model->list()[1]->record);
    QTest::keyClick(table, Qt::Key_Space);
    EXPECT_EQ(tick.data(Qt::CheckStateRole), Qt::Unchecked);

    // Escape ends a search from the field or from the table.
    const int all = model->rowCount();
    QLineEdit *search = window.programmeView()->searchField();
    for (QWidget *from : std::initializer_list<QWidget *> { search, table }) {
        search->setText(model->list()[0]->title);
        QApplication::processEvents();
        ASSERT_LT(model->rowCount(), all);
        from->setFocus();
        QTest::keyClick(from, Qt::Key_Escape);
        QApplication::processEvents();
        EXPECT_TRUE(search->text().isEmpty());
        EXPECT_EQ(model->rowCount(), all);
    }
}

TEST(FirstHour, ANewRuleOpensItsKeywordsForTyping)
{
    TempHome home;
    Settings::registerDefaults();
    MainWindow window;
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    window.modeController().selectTab("Keywords");
    auto *rules = window.findChild<QTableView *>("ruleTable");
    auto *add = window.findChild<QPushButton *>("addRuleButton");
    ASSERT_TRUE(rules && add);
    for (int count = 1; count <= 2; ++count) {
        add->click();
        QApplication::processEvents();
        const QModelIndex current = rules->currentIndex();
        EXPECT_EQ(current.row(), count - 1);
        EXPECT_EQ(KeywordRuleModel::columnKeys().at(current.column()), "Keywords");
        QWidget *editor = QApplication::focusWidget();
        EXPECT_TRUE(editor && rules->viewport()->isAncestorOf(editor));
        EXPECT_EQ(rules->selectionModel()->selectedRows().size(), 1);
    }
}

// Shrunk as far as it goes, the programme table shows a whole usual title, and nothing
// hides to the right.
TEST(FirstHour, TheSmallestWindowKeepsTheTitleReadable)
{
    TempHome home;
    MainWindow window;
    window.show();
    window.resize(1, 1);
    QApplication::processEvents();
    QTableView *table = window.programmeView()->tableView();
    const int title = int(ProgrammeModel::columnKeys().indexOf("title"));
    EXPECT_GE(table->horizontalHeader()->sectionSize(title),
        table->fontMetrics().horizontalAdvance("Midday Movie: The Long Road"));
    EXPECT_EQ(table->horizontalScrollBar()->maximum(), 0);
    EXPECT_LE(window.width(), 1280);
}

} // namespace
