// For scripts/screenshots only: PALLARO_SCREENSHOTS=<folder> has the window show each mode
// in turn, save it there as a PNG, then the preferences, and quit. PALLARO_SCREENSHOT_OF
// picks another moment instead: "first-start" (the window as it opens), "failed-fetch"
// (after a fetch has ended) or "upload" (an upload under way, stopped after the picture).
#include "app/EPGController.h"
#include "ui/GridController.h"
#include "widgets/MainWindow.h"
#include "widgets/PreferencesDialog.h"
#include "widgets/ProgrammeView.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QDir>
#include <QListWidget>
#include <QScreen>
#include <QTableView>
#include <QTimer>
#include <memory>

namespace
{
struct Shot {
    int waitMs;
    std::function<void()> prepare;
    QString name; // empty: no picture
};

void save(QWidget *window, const QString &path)
{
    // The screen as shown, the sheet over the window included; off screen, the window.
    QPixmap picture;
    if (QScreen *screen = window->screen())
        picture = screen->grabWindow(0);
    if (picture.isNull())
        picture = window->grab();
    picture.save(path);
}

void runShots(QWidget *window, std::shared_ptr<std::vector<Shot>> shots, size_t next,
    const QString &folder)
{
    if (next == shots->size()) {
        QApplication::quit();
        return;
    }
    const Shot &shot = (*shots)[next];
    shot.prepare();
    QTimer::singleShot(shot.waitMs, window, [=] {
        if (!(*shots)[next].name.isEmpty())
            save(window, folder + QLatin1Char('/') + (*shots)[next].name);
        runShots(window, shots, next + 1, folder);
    });
}

// The first programme that a rule marked, else the first one.
int markedRow(const QAbstractItemModel *model)
{
    for (int row = 0; row < model->rowCount(); ++row)
        if (model->index(row, 0).data(Qt::CheckStateRole) == Qt::Checked)
            return row;
    return 0;
}
} // namespace

void MainWindow::takeScreenshots(const QString &folder)
{
    QDir().mkpath(folder);
    move(0, 0);
    const QString moment = qEnvironmentVariable("PALLARO_SCREENSHOT_OF");
    if (moment == QLatin1String("first-start")) {
        runShots(this,
            std::make_shared<std::vector<Shot>>(
                std::vector<Shot> { { 1500, [] {}, QStringLiteral("first-start.png") } }),
            0, folder);
        return;
    }
    if (moment == QLatin1String("upload")) {
        // After the start-up reload, which the upload would wait for.
        QTimer::singleShot(3000, this, [this, folder] {
            controller_->uploadEPG();
            runShots(this,
                std::make_shared<std::vector<Shot>>(
                    std::vector<Shot> { { 2500, [] {}, QStringLiteral("upload.png") },
                        { 0, [this] { controller_->stopUpload(); }, {} } }),
                0, folder);
        });
        return;
    }
    if (moment == QLatin1String("failed-fetch")) {
        controller_->fetchEPG();
        connect(controller_.get(), &EPGController::fetchFinished, this, [this, folder] {
            runShots(this,
                std::make_shared<std::vector<Shot>>(
                    std::vector<Shot> { { 800, [] {}, QStringLiteral("failed-fetch.png") } }),
                0, folder);
        });
        return;
    }
    auto select = [this](int mode) { modeList_->setCurrentRow(mode); };
    auto shots = std::make_shared<std::vector<Shot>>(std::vector<Shot> {
        // The start-up reload and the first grid page take a moment.
        { 5000, [] {}, {} },
        { 800,
            [this, select] {
                select(0);
                dayList_->selectRow(0);
                QTableView *table = programmeView_->tableView();
                const int row = markedRow(table->model());
                table->selectRow(row);
                table->scrollTo(table->model()->index(row, 0), QAbstractItemView::PositionAtCenter);
            },
            QStringLiteral("tgds.png") },
        { 800,
            [this, select] {
                select(1);
                if (auto *rules = findChild<QTableView *>(QStringLiteral("ruleTable")))
                    rules->selectRow(0);
            },
            QStringLiteral("keywords.png") },
        { 4000,
            [this, select] {
                select(2);
                grid_->goToHour(QStringLiteral("18"));
            },
            QStringLiteral("grid.png") },
        { 800, [select] { select(3); }, QStringLiteral("now-on.png") },
        { 1000, [this] { openPrefsSheet(); }, QStringLiteral("preferences.png") },
        { 100, [this] { prefs_->closePrefsSheet(); }, {} },
    });
    runShots(this, shots, 0, folder);
}
