// The whole window on the sample guide: every mode, Delete cache, and closing mid-fetch.
#include "app/EPGController.h"
#include "base/Paths.h"
#include "base/Settings.h"
#include "guide/TGDFile.h"
#include "support/AppFixture.h"
#include "ui/GridController.h"
#include "ui/NowOnController.h"
#include "widgets/FadingWindow.h"
#include "widgets/GridPane.h"
#include "widgets/MainWindow.h"
#include "widgets/NowOnPane.h"
#include "widgets/ProgrammeView.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QWebEngineView>
#include <gtest/gtest.h>

#include <memory>

namespace
{

class Window : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Settings::registerDefaults();
        makeSample(served_.path(), { "--key", "Sydney", "--path", "myxmltv", "--days", "2" });
        provider_ = std::make_unique<SampleServer>(served_.path());
        Settings::setValue("providerHost", provider_->host());
        Settings::setValue("generateGrid", true);
        window_ = std::make_unique<MainWindow>();
        window_->show();
        window_->awakeFromNib();
    }

    // Fetches the sample guide and waits for its programmes and grid pages.
    void fetch()
    {
        window_->fetchButton()->click();
        for (int i = 0; i < 3000 && window_->controller()->isFetching(); ++i)
            processFor(20);
        ASSERT_FALSE(window_->controller()->isFetching());
        processFor(300);
        ASSERT_GT(window_->dayListView()->model()->rowCount(), 0) << logText();
    }

    std::string logText() const { return window_->logField()->toPlainText().toStdString(); }

    QStringList outputFiles() const
    {
        return QDir(Paths::outputFolder()).entryList(QDir::Files, QDir::Name);
    }

    TempHome home_;
    QTemporaryDir served_;
    std::unique_ptr<SampleServer> provider_;
    std::unique_ptr<MainWindow> window_;
};

TEST_F(Window, EveryModeShowsTheFetchedGuide)
{
    ASSERT_NO_FATAL_FAILURE(fetch());
    QListWidget *modes = window_->modeListView();

    modes->setCurrentRow(0);
    window_->dayListView()->selectRow(0);
    EXPECT_GT(window_->programmeView()->tableView()->model()->rowCount(), 0);

    modes->setCurrentRow(2);
    GridController *grid = window_->gridController();
    ASSERT_GE(grid->pages().size(), 2) << logText();
    EXPECT_EQ(window_->gridPane()->webView()->url(), grid->pageUrl(0));
    // The day list leads the grid; the buttons follow the day shown.
    window_->dayListView()->selectRow(1);
    EXPECT_EQ(grid->currentDay(), 1);
    EXPECT_TRUE(window_->gridPane()->previousButton()->isEnabled());
    EXPECT_EQ(window_->gridPane()->nextButton()->isEnabled(), grid->pages().size() > 2);

    // Evening of the first day: every channel of the sample has something on.
    modes->setCurrentRow(3);
    NowOnController *nowOn = window_->nowOnController();
    nowOn->setClock([] { return QDateTime(QDate::currentDate(), QTime(19, 10)); });
    nowOn->nowOn();
    processFor(50);
    QTableView *table = window_->nowOnPane()->tableView();
    ASSERT_GT(table->model()->rowCount(), 0);
    EXPECT_EQ(table->model()->rowCount(), int(nowOn->nowOnList().size()));
    EXPECT_FALSE(table->model()->index(0, 3).data().toString().isEmpty());
    EXPECT_TRUE(table->model()->index(0, 0).data(Qt::DecorationRole).isValid());
    EXPECT_EQ(window_->tabView()->currentIndex(), 3);
}

// The question's answer decides; only the grid's support files survive a yes.
class DeleteCache : public Window, public ::testing::WithParamInterface<bool>
{
};

TEST_P(DeleteCache, GoesOnlyWhenConfirmed)
{
    const bool confirm = GetParam();
    ASSERT_NO_FATAL_FAILURE(fetch());
    const QStringList before = outputFiles();
    QTimer::singleShot(0, [confirm] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        ASSERT_TRUE(box);
        for (QAbstractButton *b : box->buttons())
            if ((box->buttonRole(b) == QMessageBox::DestructiveRole) == confirm)
                b->click();
    });
    window_->deleteCacheAction()->trigger();
    processFor(100);
    if (confirm) {
        EXPECT_EQ(outputFiles(), QStringList({ "popup.js", "xmltv2html.css", "xmltv2htmlrc" }));
        EXPECT_EQ(window_->dayListView()->model()->rowCount(), 0);
        EXPECT_TRUE(window_->gridController()->pages().isEmpty());
    } else {
        EXPECT_EQ(outputFiles(), before);
        EXPECT_GT(window_->dayListView()->model()->rowCount(), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Answer, DeleteCache, ::testing::Bool(),
    [](const auto &info) { return info.param ? "Yes" : "No"; });

// Quitting while the fetch waits for the provider, or while it converts: the window goes
// through its fade and the quit, and every day file left is whole.
struct CloseCase {
    const char *name;
    bool stall;
};

class CloseDuringFetch : public ::testing::TestWithParam<CloseCase>
{
};

TEST_P(CloseDuringFetch, LeavesOnlyWholeDayFiles)
{
    TempHome home;
    Settings::registerDefaults();
    QTemporaryDir served;
    makeSample(served.path(), { "--key", "Sydney", "--path", "myxmltv", "--days", "2" });
    SampleServer sample(served.path());
    StallingServer stalling;
    Settings::setValue("providerHost", GetParam().stall ? stalling.host() : sample.host());
    auto window = std::make_unique<MainWindow>();
    window->show();
    window->awakeFromNib();
    window->fetchButton()->click();
    ASSERT_TRUE(window->controller()->isFetching());
    if (GetParam().stall) {
        ASSERT_TRUE(stalling.waitForRequest());
    }
    window->close();
    while (window->closeFader()->isRunning())
        window->closeFader()->tick();
    EXPECT_FALSE(window->isVisible());
    window->controller()->applicationWillTerminate(); // the quit's last step
    EXPECT_FALSE(window->controller()->isFetching());
    window.reset();
    if (GetParam().stall)
        stalling.answer("PK not much of an archive");
    processFor(300);

    const QDir output(Paths::outputFolder());
    // A stopped download leaves no part of the archive.
    if (GetParam().stall) {
        EXPECT_FALSE(output.exists("kR.zip"));
    }
    for (const QString &day : output.entryList({ "*.tgd" })) {
        const TGDEntryList entries
            = TGDFile::parse(readFile(output.filePath(day)), day.left(8));
        EXPECT_FALSE(entries.empty()) << day.toStdString();
    }
    EXPECT_TRUE(output.entryList({ "*.tmp", "*.part", ".*~" }, QDir::Files | QDir::Hidden).isEmpty());
}

INSTANTIATE_TEST_SUITE_P(At, CloseDuringFetch,
    ::testing::Values(CloseCase { "Download", true }, CloseCase { "Conversion", false }),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
