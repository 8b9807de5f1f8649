// The window's menus, the delete-cache question and the window state kept between runs.
#include "app/EPGController.h"
#include "base/StatusLog.h"
#include "ui/GridController.h"
#include "ui/SourceListController.h"
#include "widgets/GridPane.h"
#include "widgets/MainWindow.h"
#include "widgets/ProgrammeView.h"

#include <QAction>
#include <QGuiApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QSplitter>
#include <QWebEngineView>

namespace
{
// Window state is not a setting: it lives beside the settings, not among them.
QSettings windowStore()
{
    return QSettings(QStringLiteral("Pallaro"), QStringLiteral("PallaroWindow"));
}
} // namespace

void MainWindow::buildMenus()
{
    QMenu *file = menuBar()->addMenu(tr("&File"));
    fetchAction_ = file->addAction(tr("&Fetch Guide"), this, [this] { controller_->fetchEPG(); });
    fetchAction_->setShortcut(QKeySequence::Refresh);
    uploadAction_ = file->addAction(tr("&Upload Guide"), this, &MainWindow::uploadOrStop);
    uploadAction_->setObjectName("uploadAction");
    uploadAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_U));
    file->addSeparator();
    deleteCacheAction_ = file->addAction(tr("&Delete Cache..."), this, &MainWindow::confirmDeleteCache);
    file->addSeparator();
    QAction *quit = file->addAction(tr("&Quit"), this, &MainWindow::close);
    quit->setShortcut(QKeySequence::Quit);
    quit->setMenuRole(QAction::QuitRole);

    QMenu *edit = menuBar()->addMenu(tr("&Edit"));
    // The programme page's own Find: it shows the page first.
    QAction *find = programmeView_->findAction();
    connect(find, &QAction::triggered, this, [this] { modes_.selectTab(QStringLiteral("TGDs")); });
    edit->addAction(find);
    edit->addSeparator();
    QAction *prefs = edit->addAction(tr("&Preferences..."), this, &MainWindow::openPrefsSheet);
    prefs->setShortcut(QKeySequence::Preferences);
    if (prefs->shortcut().isEmpty())
        prefs->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    prefs->setMenuRole(QAction::PreferencesRole);

    QMenu *view = menuBar()->addMenu(tr("&View"));
    for (int row = 0; row < modes_.numberOfRows(); ++row) {
        QAction *mode = view->addAction(modes_.objectValue(row), this,
            [this, row] { modeList_->setCurrentRow(row, QItemSelectionModel::ClearAndSelect); });
        mode->setShortcut(QKeySequence(Qt::CTRL | Qt::Key(Qt::Key_1 + row)));
    }
}

void MainWindow::confirmDeleteCache()
{
    QMessageBox box(QMessageBox::Warning, tr("Delete Cache"),
        tr("Delete every downloaded guide day and grid page?"), QMessageBox::Cancel, this);
    box.setObjectName("deleteCacheQuestion");
    box.setInformativeText(
        tr("Record marks that have not been uploaded are lost. Fetch to get the guide again."));
    QPushButton *yes = box.addButton(tr("Delete"), QMessageBox::DestructiveRole);
    box.setDefaultButton(QMessageBox::Cancel);
    box.exec();
    // A fetch started meanwhile (by a script command) writes into the folder, an upload
    // reads from it: leave it.
    if (box.clickedButton() != yes || controller_->isFetching() || controller_->isUploading())
        return;
    controller_->deleteCache();
    // The grid page shown is gone with its file.
    gridPane_->webView()->setUrl(QUrl(QStringLiteral("about:blank")));
    gridPane_->nextButton()->setEnabled(false);
    gridPane_->previousButton()->setEnabled(false);
    grid_->loadPages();
    log_->printStatus(tr("Cache deleted.\n"));
}

void MainWindow::restoreWindowState()
{
    QSettings store = windowStore();
    slc_->setSelectedDays(store.value(QStringLiteral("selectedDays")).toStringList());
    if (restoreGeometry(store.value(QStringLiteral("geometry")).toByteArray())) {
        mainSplit_->restoreState(store.value(QStringLiteral("mainSplitter")).toByteArray());
        rightSplit_->restoreState(store.value(QStringLiteral("rightSplitter")).toByteArray());
        return;
    }
    // First start: room for a week of days and a readable programme table.
    QSize size(1280, 800);
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        size = size.boundedTo(screen->availableSize());
    resize(size);
    mainSplit_->setSizes({ mainSplit_->widget(0)->minimumSizeHint().width(), size.width() });
    rightSplit_->setSizes({ size.height(), fontMetrics().height() * 7 });
}

void MainWindow::saveWindowState() const
{
    QSettings store = windowStore();
    store.setValue(QStringLiteral("geometry"), saveGeometry());
    store.setValue(QStringLiteral("mainSplitter"), mainSplit_->saveState());
    store.setValue(QStringLiteral("rightSplitter"), rightSplit_->saveState());
    store.setValue(QStringLiteral("selectedDays"), slc_->selectedDays());
}
