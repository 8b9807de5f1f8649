// The whole window on the sample guide: every mode, Delete cache, and closing mid-conversion.
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
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
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

    // The suite's clock stands in the evening of the sample's first day: every channel has
    // something on.
    modes->setCurrentRow(3);
    NowOnController *nowOn = window_->nowOnController();
    nowOn->nowOn();
    processFor(50);
    QTableView *table = window_->nowOnPane()->tableView();
    ASSERT_GT(table->model()->rowCount(), 0);
    EXPECT_EQ(table->model()->rowCount(), int(nowOn->nowOnList().size()));
    EXPECT_FALSE(table->model()->index(0, 3).data().toString().isEmpty());
    EXPECT_TRUE(table->model()->index(0, 0).data(Qt::DecorationRole).isValid());
    EXPECT_EQ(window_->tabView()->currentIndex(), 3);
    // The heading says what the table holds, an empty table included.
    auto *heading = window_->nowOnPane()->findChild<QLabel *>("nowOnTime");
    ASSERT_TRUE(heading);
    EXPECT_EQ(heading->text(), "On air at " + nowOn->currentTime());
    nowOn->setNowOnList({});
    EXPECT_EQ(heading->text(), "Nothing on air at " + nowOn->currentTime());
}

// A confirmed Delete cache leaves only the grid's support files.
TEST_F(Window, DeleteCacheGoesWhenConfirmed)
{
    ASSERT_NO_FATAL_FAILURE(fetch());
    QTimer::singleShot(0, [] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        ASSERT_TRUE(box);
        for (QAbstractButton *b : box->buttons())
            if (box->buttonRole(b) == QMessageBox::DestructiveRole)
                b->click();
    });
    window_->deleteCacheAction()->trigger();
    processFor(100);
    EXPECT_EQ(outputFiles(), QStringList({ "popup.js", "xmltv2html.css", "xmltv2htmlrc" }));
    EXPECT_EQ(window_->dayListView()->model()->rowCount(), 0);
    EXPECT_TRUE(window_->gridController()->pages().isEmpty());
}

// Quitting while the fetch converts: the window goes through its fade and the quit, and
// every day file left is whole. The whole-file writer leaves "NAME.XXXXXX" when it is
// stopped before its rename: nothing but finished files may be left.
TEST_F(Window, ClosingDuringConversionLeavesOnlyWholeDayFiles)
{
    window_->fetchButton()->click();
    ASSERT_TRUE(window_->controller()->isFetching());
    const QDir output(Paths::outputFolder());
    for (int i = 0; i < 20000 && window_->controller()->isFetching()
         && output.entryList({ "*.tgd" }, QDir::Files).isEmpty();
         ++i)
        processFor(1);
    window_->close();
    while (window_->closeFader()->isRunning())
        window_->closeFader()->tick();
    EXPECT_FALSE(window_->isVisible());
    window_->controller()->applicationWillTerminate(); // the quit's last step
    EXPECT_FALSE(window_->controller()->isFetching());
    window_.reset();
    processFor(300);

    const QStringList days = output.entryList({ "*.tgd" }, QDir::Files);
    ASSERT_FALSE(days.isEmpty()) << "the conversion wrote no day file";
    for (const QString &day : days) {
        const TGDEntryList entries = TGDFile::parse(readFile(output.filePath(day)), day.left(8));
        EXPECT_FALSE(entries.empty()) << day.toStdString();
    }
    // Grid pages already started run on after the quit, as programs of their own, and
    // rename their page into place when it is whole: give them the time to.
    const auto inProgress = [&output] {
        return !output.entryList({ "*.html.??????" }, QDir::Files | QDir::Hidden).isEmpty();
    };
    for (int i = 0; i < 200 && inProgress(); ++i)
        processFor(100);
    static const QRegularExpression finished(
        QStringLiteral("^([0-9]{8}\\.(tgd|xml|html)|kR\\.zip|"
                       "xmltv\\.xml|popup\\.js|xmltv2html\\.css|xmltv2htmlrc)$"));
    for (const QString &name :
        output.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot))
        EXPECT_TRUE(finished.match(name).hasMatch()) << "left behind: " << name.toStdString();
}

} // namespace
