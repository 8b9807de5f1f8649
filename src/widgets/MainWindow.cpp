#include "widgets/MainWindow.h"

#include "app/EPGController.h"
#include "app/Fade.h"
#include "app/RunReport.h"
#include "app/ScriptCommands.h"
#include "base/Clock.h"
#include "base/DataFolderLock.h"
#include "base/StatusLog.h"
#include "ui/GridController.h"
#include "ui/KeywordController.h"
#include "ui/KeywordRuleTable.h"
#include "ui/NowOnController.h"
#include "ui/SourceListController.h"
#include "ui/TGDPickerController.h"
#include "widgets/ChannelBadges.h"
#include "widgets/FadingWindow.h"
#include "widgets/GridPane.h"
#include "widgets/IntroWindow.h"
#include "widgets/KeywordRuleModel.h"
#include "widgets/ListModels.h"
#include "widgets/NowOnPane.h"
#include "widgets/PreferencesDialog.h"
#include "widgets/ProgrammeView.h"
#include "widgets/RoundedBox.h"
#include "widgets/RuleFilterEditor.h"
#include "widgets/RunNotesBar.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSplitter>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <map>

namespace {
// A labelled area of the window.
RoundedBox *boxed(const QString &title, QWidget *content)
{
    auto *box = new RoundedBox(title);
    auto *layout = new QVBoxLayout(box);
    layout->addWidget(content);
    return box;
}
} // namespace

MainWindow::MainWindow()
    : log_(new StatusLog(this))
    , slc_(new SourceListController(this))
    , controller_(std::make_unique<EPGController>(log_))
    , scheduler_([this](const QString &line) { log_->printStatus(line + QLatin1Char('\n')); })
{
    controller_->setSourceList(slc_);
    controller_->setScheduler(&scheduler_);
    setWindowTitle(QStringLiteral("Pallaro"));

    modeList_ = new QListWidget;
    modeList_->setObjectName("modeList");
    for (int row = 0; row < modes_.numberOfRows(); ++row)
        modeList_->addItem(modes_.objectValue(row));
    modeList_->setFrameShape(QFrame::NoFrame);
    modeList_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    modeList_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    modeList_->setFixedHeight(modeList_->sizeHintForRow(0) * modes_.numberOfRows() + 4);
    modes_.setView(this);
    connect(modeList_, &QListWidget::itemSelectionChanged, this, [this] {
        const auto items = modeList_->selectedItems();
        modes_.selectionDidChange(items.isEmpty() ? -1 : modeList_->row(items.first()));
    });

    // The programmes and their record marks: one full list, owned by the keyword controller.
    programmes_ = new TGDPickerController(this);
    kwc_ = new KeywordController(slc_, programmes_, this);
    slc_->setKeywordController(kwc_);
    slc_->setProgrammeTable(programmes_);
    kwc_->setStatusLog(log_);
    controller_->setKeywordStore(kwc_);

    // The grid pages are listed by the controller's start-up: wired before it.
    grid_ = new GridController(this);
    gridPane_ = new GridPane(grid_);
    controller_->setGridPages(grid_);
    slc_->setPageDisplay([grid = grid_](int row) { grid->displayPage(row); });
    nowOn_ = new NowOnController(kwc_, this);
    nowOn_->setChannelPictures(&channelPicture);
    nowOnPane_ = new NowOnPane(nowOn_);

    programmeView_ = new ProgrammeView(programmes_);

    tabView_ = new QTabWidget;
    tabView_->setObjectName("tabView");
    tabView_->tabBar()->hide();
    tabView_->setDocumentMode(true);
    tabView_->addTab(programmeView_, QStringLiteral("TGDs"));
    tabView_->addTab(keywordPage(), QStringLiteral("Keywords"));
    tabView_->addTab(gridPane_, QStringLiteral("Grid"));
    tabView_->addTab(nowOnPane_, QStringLiteral("Now on"));

    fetchButton_ = new QPushButton(tr("Fetch"));
    fetchButton_->setObjectName("fetchButton");
    fetchButton_->setToolTip(tr("Download the guide for the chosen region"));
    uploadButton_ = new QPushButton(tr("Upload"));
    uploadButton_->setObjectName("uploadButton");
    uploadButton_->setToolTip(tr("Send the guide days to the recorder"));
    connect(uploadButton_, &QPushButton::clicked, this, &MainWindow::uploadOrStop);
    auto *prefsButton = new QPushButton(tr("Preferences..."));
    prefsButton->setObjectName("prefsButton");
    connect(prefsButton, &QPushButton::clicked, this, &MainWindow::openPrefsSheet);
    controller_->setFetchButtons(this);
    controller_->setBeep([] { QApplication::beep(); });
    connect(fetchButton_, &QPushButton::clicked, this, [this] { controller_->fetchEPG(); });

    auto *left = new QWidget;
    auto *leftLayout = new QVBoxLayout(left);
    leftLayout->setContentsMargins(0, 0, 0, 0);
    leftLayout->addWidget(boxed(tr("Modes"), modeList_));
    leftLayout->addWidget(dayListBox(), 1);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(fetchButton_);
    buttons->addWidget(uploadButton_);
    buttons->addStretch();
    buttons->addWidget(prefsButton);
    leftLayout->addLayout(buttons);

    RoundedBox *page = boxed(QString(), tabView_);
    page->setObjectName("pageBox");
    const QStringList pageTitles
        = { tr("Programmes"), tr("Keyword rules"), tr("Grid preview"), tr("Now on") };
    connect(tabView_, &QTabWidget::currentChanged, page,
        [page, pageTitles](int index) { page->setTitle(pageTitles.value(index)); });
    // The rule page shows its matches in the same programme table: back on the programme
    // page, the table shows the chosen days again.
    connect(tabView_, &QTabWidget::currentChanged, this, [this](int index) {
        if (index == 0)
            showSelectedDays();
    });
    connect(kwc_, &KeywordController::tableListReplaced, this, &MainWindow::showPageChoice);
    page->setTitle(pageTitles.front());

    rightSplit_ = new QSplitter(Qt::Vertical);
    rightSplit_->setObjectName("rightSplitter");
    rightSplit_->addWidget(page);
    rightSplit_->addWidget(statusBox());
    rightSplit_->setStretchFactor(0, 1);
    rightSplit_->setCollapsible(0, false);
    rightSplit_->setCollapsible(1, false);
    mainSplit_ = new QSplitter(Qt::Horizontal);
    mainSplit_->setObjectName("mainSplitter");
    mainSplit_->addWidget(left);
    mainSplit_->addWidget(rightSplit_);
    mainSplit_->setStretchFactor(1, 1);
    mainSplit_->setCollapsible(0, false);
    mainSplit_->setCollapsible(1, false);
    auto *central = new QWidget;
    auto *layout = new QVBoxLayout(central);
    layout->setContentsMargins(8, 8, 8, 8);
    runNotes_ = new RunNotesBar;
    layout->addWidget(runNotes_);
    layout->addWidget(mainSplit_);
    // A fetch may have ended the guide's shortage.
    connect(controller_.get(), &EPGController::fetchFinished, this, &MainWindow::showRunNotes);
    setCentralWidget(central);

    prefs_ = new PreferencesDialog(controller_.get(), this);
    connect(runNotes_, &RunNotesBar::preferencesRequested, this, &MainWindow::openPrefsSheet);
    // A provider set there changes what the notes ask for.
    connect(prefs_, &QDialog::finished, this, &MainWindow::showRunNotes);
    intro_ = new IntroWindow;
    introFader_ = new WindowFader(intro_, kIntroFadeIntervalMs, [this] { intro_->close(); });
    closeFader_ = new WindowFader(this, kCloseFadeIntervalMs, [this] {
        fadedOut_ = true;
        close();
    });
    buildMenus();
    restoreWindowState();
}

QWidget *MainWindow::dayListBox()
{
    dayList_ = new QTableView;
    dayList_->setObjectName("dayList");
    dayModel_ = new DayListModel(slc_, this);
    slc_->setView(dayModel_);
    dayList_->setModel(dayModel_);
    dayList_->setItemDelegateForColumn(2, new CountButtonDelegate(dayList_));
    dayList_->setSelectionBehavior(QAbstractItemView::SelectRows);
    dayList_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    dayList_->setTabKeyNavigation(false);
    dayList_->setWordWrap(false);
    dayList_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    dayList_->verticalHeader()->hide();
    dayList_->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 8);
    // Every column shows whole: the day's name on one line, the progress and the count.
    QHeaderView *header = dayList_->horizontalHeader();
    int width = 0;
    const char *const widest[] = { "Wed 30 Sep 2026", "100%", "Programmes" };
    for (int c = 0; c < 3; ++c) {
        header->resizeSection(c, fontMetrics().horizontalAdvance(QString::fromUtf8(widest[c])) + 20);
        width += header->sectionSize(c);
    }
    header->setSectionResizeMode(0, QHeaderView::Stretch);
    dayList_->setMinimumWidth(width + dayList_->verticalScrollBar()->sizeHint().width() + 4);
    connect(dayList_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
        &MainWindow::showSelectedDays);
    // A reset (a scan, a fetch's progress, a count) drops the selection without a word.
    connect(dayModel_, &QAbstractItemModel::modelReset, this, &MainWindow::restoreDaySelection);
    return boxed(tr("Guide days"), dayList_);
}

void MainWindow::restoreDaySelection()
{
    const std::vector<int> rows = slc_->rowsToSelect(Clock::today());
    QItemSelection chosen;
    for (int row : rows)
        chosen.select(
            dayModel_->index(row, 0), dayModel_->index(row, dayModel_->columnCount() - 1));
    QItemSelectionModel *selection = dayList_->selectionModel();
    {
        const QSignalBlocker quiet(selection);
        selection->select(chosen, QItemSelectionModel::ClearAndSelect);
        selection->setCurrentIndex(rows.empty() ? QModelIndex() : dayModel_->index(rows.back(), 0),
            QItemSelectionModel::NoUpdate);
    }
    dayList_->viewport()->update();
    // A count or a rescan that leaves the same days chosen changes nothing shown: the grid
    // page stays where the user scrolled it. New programmes come with tableListReplaced.
    if (slc_->daysOfRows(rows) != shownDays_)
        showPageChoice();
}

void MainWindow::showPageChoice()
{
    if (tabView_->currentIndex() == 1)
        ruleTable_->showSelectedMatches();
    else
        showSelectedDays();
}

void MainWindow::showSelectedDays()
{
    std::vector<int> rows;
    for (const QModelIndex &i : dayList_->selectionModel()->selectedRows())
        rows.push_back(i.row());
    std::sort(rows.begin(), rows.end());
    const QModelIndex current = dayList_->selectionModel()->currentIndex();
    const int last = rows.empty() ? -1 : (current.isValid() ? current.row() : rows.back());
    shownDays_ = slc_->daysOfRows(rows);
    slc_->tableViewSelectionDidChange(rows, last);
}

QWidget *MainWindow::statusBox()
{
    logField_ = new QPlainTextEdit;
    logField_->setObjectName("logField");
    logField_->setReadOnly(true);
    logField_->setPlaceholderText(tr("What fetches and uploads do is reported here."));
    // Five lines at least: a failure's line and its cause stay in view with what led to them.
    logField_->setMinimumHeight(int(std::ceil(logField_->fontMetrics().lineSpacing() * 5
        + logField_->document()->documentMargin() * 2 + logField_->frameWidth() * 2)));
    connect(log_, &StatusLog::appended, logField_, [this](const QString &text) {
        logField_->moveCursor(QTextCursor::End);
        logField_->insertPlainText(text);
        logField_->moveCursor(QTextCursor::End);
    });
    connect(log_, &StatusLog::replaced, logField_,
            [this](const QString &text) { logField_->setPlainText(text); });
    auto *box = boxed(tr("Status"), logField_);
    box->setObjectName("statusBox");
    return box;
}

MainWindow::~MainWindow()
{
    // An open cell editor commits when it loses focus; let it do so now, while the rule
    // table it writes into is still alive, not from QWidget's destructor after it is gone.
    hide();
    // A fetch worker reaches into the controllers and views below: it ends first.
    controller_->stopFetch();
    // The keyword controller is destroyed after the day list and the programme table it
    // writes through: whatever waits to be stored goes now, while both are alive.
    kwc_->flushWrites();
    DataFolderLock::setReporter({});
    delete intro_;
    // The controller outlives the window's children only until here: no more redisplays.
    kwc_->setViews(nullptr);
}

QWidget *MainWindow::keywordPage()
{
    ruleTable_ = std::make_unique<KeywordRuleTable>(kwc_, programmes_);
    ruleModel_ = new KeywordRuleModel(ruleTable_.get(), this);
    ruleTable_->setView(ruleModel_);
    kwc_->setViews(ruleTable_.get());

    auto *rules = new QTableView;
    rules->setObjectName("ruleTable");
    rules->setModel(ruleModel_);
    ruleModel_->setView(rules);
    ruleModel_->setAlertParent(this);
    rules->setSelectionBehavior(QAbstractItemView::SelectRows);
    rules->setSelectionMode(QAbstractItemView::ExtendedSelection);
    rules->setTabKeyNavigation(false);
    rules->setDragDropMode(QAbstractItemView::InternalMove);
    rules->setDragDropOverwriteMode(false);
    rules->setDropIndicatorShown(true);
    rules->verticalHeader()->hide();
    // The terms and filters take the room; the ticks and numbers only what they need.
    rules->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    for (int column = 0; column < 3; ++column)
        rules->horizontalHeader()->setSectionResizeMode(column, QHeaderView::Stretch);

    // The selected rules' matches, in the one programme table model.
    auto *matches = new QTableView;
    matches->setObjectName("ruleMatches");
    programmeView_->addTable(matches);

    auto *add = new QPushButton(tr("Add"));
    add->setObjectName("addRuleButton");
    // The new rule is ready for its words at once.
    connect(add, &QPushButton::clicked, this, [this, rules] {
        ruleTable_->addBlankRecord();
        const QModelIndex keywords = ruleModel_->index(ruleModel_->rowCount() - 1,
            int(KeywordRuleModel::columnKeys().indexOf(QStringLiteral("Keywords"))));
        rules->selectRow(keywords.row());
        rules->setCurrentIndex(keywords);
        rules->setFocus(Qt::OtherFocusReason);
        rules->edit(keywords);
    });
    auto *remove = new QPushButton(tr("Delete"));
    remove->setObjectName("deleteRuleButton");
    connect(remove, &QPushButton::clicked, this, [this] { ruleTable_->deleteRecord(); });
    auto *spinner = new QProgressBar;
    spinner->setObjectName("loadingSpinner");
    spinner->setRange(0, 0);
    spinner->setMaximumWidth(120);
    spinner->hide();
    ruleModel_->setSpinner(spinner);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(add);
    buttons->addWidget(remove);
    buttons->addStretch();
    buttons->addWidget(spinner);
    // The selected rule's channels, days, times and length, beside the table.
    auto *filters = new RuleFilterEditor(ruleTable_.get(), [this] { return guideChannels(); });
    const auto follow = [rules, filters] {
        const QModelIndexList selected = rules->selectionModel()->selectedRows();
        filters->showRow(selected.size() == 1 ? selected.first().row() : -1);
    };
    connect(rules->selectionModel(), &QItemSelectionModel::selectionChanged, filters, follow);
    connect(ruleModel_, &QAbstractItemModel::dataChanged, filters, follow);
    connect(ruleModel_, &QAbstractItemModel::modelReset, filters, follow);
    auto *table = new QWidget;
    auto *tableLayout = new QVBoxLayout(table);
    tableLayout->setContentsMargins(0, 0, 0, 0);
    tableLayout->addWidget(rules, 1);
    tableLayout->addLayout(buttons);
    auto *top = new QSplitter(Qt::Horizontal);
    top->addWidget(table);
    top->addWidget(filters);
    top->setStretchFactor(0, 1);
    top->setStretchFactor(1, 0);
    auto *split = new QSplitter(Qt::Vertical);
    split->addWidget(top);
    split->addWidget(matches);
    return split;
}

std::vector<std::pair<QString, QString>> MainWindow::guideChannels() const
{
    std::map<QString, QString> byKey;
    for (const TGDEntryPtr &e : kwc_->allTGDEntries())
        byKey.emplace(
            e->channel, e->dispChannelString.isEmpty() ? e->channel : e->dispChannelString);
    return { byKey.begin(), byKey.end() };
}

void MainWindow::awakeFromNib()
{
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, QColor::fromRgbF(0.95686274766922f, 0.95686274766922f,
                                                        0.95686274766922f, 1.0f));
    setPalette(palette);
    setAutoFillBackground(true);
    controller_->awakeFromNib();
    showRunNotes();
    // A write that waits for another Pallaro program says so where the user looks.
    DataFolderLock::setReporter([log = log_](const QString &line) {
        log->printStatus(line + QLatin1Char('\n'));
    });
    kwc_->awakeFromNib();
    nowOn_->awakeFromNib();
    commands_ = std::make_unique<ScriptCommands>(controller_.get());
    commands_->setKeywordController(kwc_);
    if (const QString why = commands_->registerOn(); !why.isEmpty())
        log_->printStatus(why + QLatin1Char('\n'));
    modeList_->setCurrentRow(0);
    intro_->show();
    introFader_->start();
    if (const QString shots = qEnvironmentVariable("PALLARO_SCREENSHOTS"); !shots.isEmpty())
        takeScreenshots(shots);
}

void MainWindow::showRunNotes()
{
    const RunReport::Notes notes = RunReport::startupNotes(Clock::today());
    runNotes_->setNotes(notes.lines, notes.alarming, notes.needsSetup);
}

void MainWindow::openPrefsSheet()
{
    prefs_->openPrefsSheet();
}

void MainWindow::showTab(int index)
{
    tabView_->setCurrentIndex(index);
}

int MainWindow::tabIndexForIdentifier(const QString &identifier) const
{
    for (int i = 0; i < tabView_->count(); ++i)
        if (tabView_->tabText(i) == identifier)
            return i;
    return -1;
}

void MainWindow::selectModeRow(int row)
{
    modeList_->setCurrentRow(row, QItemSelectionModel::ClearAndSelect);
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (fadedOut_) {
        saveWindowState();
        event->accept();
        return;
    }
    if (controller_->isFetching())
        log_->printStatus(tr("Stopping the fetch...\n"));
    if (controller_->isUploading()) {
        log_->printStatus(tr("\nStopping the upload after the file being sent...\n"));
        controller_->stopUpload();
    }
    // Fade out first; the fader closes the window for real on its last tick.
    event->ignore();
    if (!closeFader_->isRunning())
        closeFader_->start();
}

void MainWindow::setFetchButton(bool enabled, const QString &title)
{
    fetchButton_->setEnabled(enabled);
    fetchButton_->setText(title);
    fetchAction_->setEnabled(enabled);
    // The cache is not emptied under a running fetch.
    deleteCacheAction_->setEnabled(enabled);
}

void MainWindow::setUploadButton(bool enabled, const QString &title)
{
    uploadButton_->setEnabled(enabled);
    uploadButton_->setText(title);
    uploadAction_->setEnabled(enabled);
    uploadAction_->setText(
        title == QLatin1String("Stop") ? tr("&Stop Upload") : tr("&Upload Guide"));
}

void MainWindow::uploadOrStop()
{
    // While an upload runs, the button and the menu item stop it between files.
    if (controller_->isUploading())
        controller_->stopUpload();
    else
        controller_->uploadEPG();
}
