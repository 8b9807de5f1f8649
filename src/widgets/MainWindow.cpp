#include "widgets/MainWindow.h"

#include "app/EPGController.h"
#include "app/Fade.h"
#include "app/ScriptCommands.h"
#include "base/StatusLog.h"
#include "ui/KeywordController.h"
#include "ui/KeywordRuleTable.h"
#include "ui/SourceListController.h"
#include "ui/TGDPickerController.h"
#include "widgets/ListModels.h"
#include "widgets/FadingWindow.h"
#include "widgets/IntroWindow.h"
#include "widgets/KeywordRuleModel.h"
#include "widgets/PreferencesDialog.h"
#include "widgets/ProgrammeView.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHeaderView>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>

namespace {
QWidget *placeholderPage(const QString &text)
{
    auto *page = new QWidget;
    auto *layout = new QVBoxLayout(page);
    auto *label = new QLabel(text);
    label->setAlignment(Qt::AlignCenter);
    label->setWordWrap(true);
    layout->addWidget(label);
    return page;
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
    resize(1000, 680);

    modeList_ = new QListWidget;
    modeList_->setObjectName("modeList");
    for (int row = 0; row < modes_.numberOfRows(); ++row)
        modeList_->addItem(modes_.objectValue(row));
    modeList_->setMaximumWidth(180);
    modeList_->setMaximumHeight(4 * 24 + 8);
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

    auto *dayList = new QTableView;
    dayList->setObjectName("dayList");
    dayModel_ = new DayListModel(slc_, this);
    slc_->setView(dayModel_);
    dayList->setModel(dayModel_);
    dayList->setItemDelegateForColumn(2, new CountButtonDelegate(dayList));
    dayList->setSelectionBehavior(QAbstractItemView::SelectRows);
    dayList->verticalHeader()->hide();
    dayList->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    connect(dayList->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this, dayList] {
                std::vector<int> rows;
                for (const QModelIndex &i : dayList->selectionModel()->selectedRows())
                    rows.push_back(i.row());
                std::sort(rows.begin(), rows.end());
                const QModelIndex current = dayList->selectionModel()->currentIndex();
                const int last = rows.empty() ? -1 : (current.isValid() ? current.row() : rows.back());
                slc_->tableViewSelectionDidChange(rows, last);
            });

    programmeView_ = new ProgrammeView(programmes_);

    tabView_ = new QTabWidget;
    tabView_->setObjectName("tabView");
    tabView_->tabBar()->hide();
    tabView_->addTab(programmeView_, QStringLiteral("TGDs"));
    tabView_->addTab(keywordPage(), QStringLiteral("Keywords"));
    tabView_->addTab(placeholderPage(tr("Grid previews")), QStringLiteral("Grid"));
    tabView_->addTab(placeholderPage(tr("Now on")), QStringLiteral("Now on"));

    logField_ = new QPlainTextEdit;
    logField_->setObjectName("logField");
    logField_->setReadOnly(true);
    logField_->setMaximumHeight(140);
    connect(log_, &StatusLog::appended, logField_, [this](const QString &text) {
        logField_->moveCursor(QTextCursor::End);
        logField_->insertPlainText(text);
        logField_->moveCursor(QTextCursor::End);
    });
    connect(log_, &StatusLog::replaced, logField_,
            [this](const QString &text) { logField_->setPlainText(text); });

    fetchButton_ = new QPushButton(tr("Fetch"));
    fetchButton_->setObjectName("fetchButton");
    uploadButton_ = new QPushButton(tr("Upload"));
    uploadButton_->setObjectName("uploadButton");
    connect(uploadButton_, &QPushButton::clicked, this, [this] { controller_->uploadEPG(); });
    auto *prefsButton = new QPushButton(tr("Preferences..."));
    prefsButton->setObjectName("prefsButton");
    connect(prefsButton, &QPushButton::clicked, this, &MainWindow::openPrefsSheet);
    controller_->setFetchButtons(this);
    controller_->setBeep([] { QApplication::beep(); });
    connect(fetchButton_, &QPushButton::clicked, this, [this] { controller_->fetchEPG(); });

    auto *left = new QVBoxLayout;
    left->addWidget(modeList_);
    left->addWidget(dayList, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(fetchButton_);
    buttons->addWidget(uploadButton_);
    buttons->addStretch();
    buttons->addWidget(prefsButton);
    auto *right = new QVBoxLayout;
    right->addWidget(tabView_, 1);
    right->addWidget(logField_);
    right->addLayout(buttons);
    auto *central = new QWidget;
    auto *layout = new QHBoxLayout(central);
    layout->addLayout(left);
    layout->addLayout(right, 1);
    setCentralWidget(central);

    prefs_ = new PreferencesDialog(controller_.get(), this);
    intro_ = new IntroWindow;
    introFader_ = new WindowFader(intro_, kIntroFadeIntervalMs, [this] { intro_->close(); });
    closeFader_ = new WindowFader(this, kCloseFadeIntervalMs, [this] {
        fadedOut_ = true;
        close();
    });
}

MainWindow::~MainWindow()
{
    // A fetch worker reaches into the controllers and views below: it ends first.
    controller_->stopFetch();
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
    rules->setDragDropMode(QAbstractItemView::InternalMove);
    rules->setDragDropOverwriteMode(false);
    rules->setDropIndicatorShown(true);
    rules->verticalHeader()->hide();
    rules->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    rules->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);

    // The selected rules' matches, in the one programme table model.
    auto *matches = new QTableView;
    matches->setObjectName("ruleMatches");
    programmeView_->addTable(matches);

    auto *add = new QPushButton(tr("Add"));
    add->setObjectName("addRuleButton");
    connect(add, &QPushButton::clicked, this, [this] { ruleTable_->addBlankRecord(); });
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
    auto *top = new QWidget;
    auto *topLayout = new QVBoxLayout(top);
    topLayout->setContentsMargins(0, 0, 0, 0);
    topLayout->addWidget(rules, 1);
    topLayout->addLayout(buttons);
    auto *split = new QSplitter(Qt::Vertical);
    split->addWidget(top);
    split->addWidget(matches);
    return split;
}

void MainWindow::awakeFromNib()
{
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, QColor::fromRgbF(0.95686274766922f, 0.95686274766922f,
                                                        0.95686274766922f, 1.0f));
    setPalette(palette);
    setAutoFillBackground(true);
    // The StatusLog sits on the window's own background.
    logField_->setFrameStyle(QFrame::NoFrame);
    logField_->viewport()->setAutoFillBackground(false);
    QPalette logPalette = logField_->palette();
    logPalette.setColor(QPalette::Base, Qt::transparent);
    logField_->setPalette(logPalette);

    controller_->awakeFromNib();
    kwc_->awakeFromNib();
    commands_ = std::make_unique<ScriptCommands>(controller_.get());
    if (const QString why = commands_->registerOn(); !why.isEmpty())
        log_->printStatus(why + QLatin1Char('\n'));
    modeList_->setCurrentRow(0);
    intro_->show();
    introFader_->start();
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
        event->accept();
        return;
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
}

void MainWindow::setUploadEnabled(bool enabled)
{
    uploadButton_->setEnabled(enabled);
}
