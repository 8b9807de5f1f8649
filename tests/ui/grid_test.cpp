#include "base/Paths.h"
#include "support/FixedClock.h"
#include "support/TempHome.h"
#include "ui/GridController.h"

#include <QFile>
#include <functional>
#include <gtest/gtest.h>

namespace
{

// Pages of the day before, the day of and the day after 12 March 2007, "xmltv", a page
// not named by a date and a day file; what the controller asked of the window, in order.
class Grid : public ::testing::Test
{
protected:
    void SetUp() override
    {
        output = Paths::outputFolder();
        for (const char *name : { "20070311.html", "20070312.html", "20070313.html", "xmltv.html",
                 "notes.html", "20070312.tgd" })
            ASSERT_TRUE(writeFile(output + "/" + name, "<html/>"));
        QObject::connect(&grid, &GridController::showUrl, [this](const QUrl &url) {
            asked << url.toString().mid(QUrl::fromLocalFile(output).toString().size() + 1);
        });
        QObject::connect(&grid, &GridController::nextEnabled,
            [this](bool on) { asked << QString("next ") + (on ? "on" : "off"); });
        QObject::connect(&grid, &GridController::previousEnabled,
            [this](bool on) { asked << QString("previous ") + (on ? "on" : "off"); });
    }
    QStringList take() { return std::exchange(asked, {}); }

    TempHome home;
    FixedClock clock { QDateTime(QDate(2007, 3, 12), QTime(12, 0)) };
    QString output;
    GridController grid;
    QStringList asked;
};

TEST_F(Grid, ButtonsAndTheDayListTurnPagesWithinTheList)
{
    grid.loadPages();
    take();
    const struct {
        const char *name;
        std::function<void(GridController &)> action;
        QStringList asked;
        int currentDay;
    } steps[] = {
        { "back on the first", &GridController::previousDay, {}, 0 },
        { "on", &GridController::nextDay, { "20070313.html", "previous on" }, 1 },
        { "on to the last", &GridController::nextDay, { "xmltv.html", "previous on", "next off" },
            2 },
        { "on from the last", &GridController::nextDay, {}, 2 },
        { "back", &GridController::previousDay, { "20070313.html", "next on" }, 1 },
        { "no selection", [](GridController &g) { g.displayPage(-1); }, {}, 1 },
        { "past the end", [](GridController &g) { g.displayPage(3); }, {}, 1 },
        // Today's page opens at the hour on air (12:00: anchor 14).
        { "a row", [](GridController &g) { g.displayPage(0); }, { "20070312.html#14" }, 0 },
    };
    for (const auto &s : steps) {
        s.action(grid);
        EXPECT_EQ(take(), s.asked) << s.name;
        EXPECT_EQ(grid.currentDay(), s.currentDay) << s.name;
    }
}

TEST_F(Grid, HourButtonsScrollTheCurrentPageToTheHoursAnchor)
{
    grid.goToHour("4");
    EXPECT_TRUE(take().isEmpty()); // no pages yet
    grid.loadPages();
    grid.nextDay();
    take();
    const struct {
        const char *title;
        const char *page;
    } cases[] = {
        { "0", "20070313.html#2" }, { "4", "20070313.html#5" }, { "5", "20070313.html#5" },
        { "6 am", "20070313.html#8" }, { "21", "20070313.html#23" }, { "22", "20070313.html#0" },
        { "23", "20070313.html#1" }, { "Noon", "20070313.html#2" }, // no number reads as 0
    };
    for (const auto &c : cases) {
        grid.goToHour(c.title);
        EXPECT_EQ(take(), QStringList { c.page }) << c.title;
    }
}

// The grid view shows the folder's pages and loads their files; nothing else.
TEST_F(Grid, TheViewMayLoadTheOutputFoldersFilesAndShowOnlyItsPages)
{
    grid.loadPages();
    const QString outside = home.path() + "/outside";
    ASSERT_TRUE(writeFile(outside + "/secret.html", "<html/>"));
    ASSERT_TRUE(QFile::link(outside + "/secret.html", output + "/20070320.html"));
    const auto file = [](const QString &path) { return QUrl::fromLocalFile(path); };
    const struct {
        QUrl url;
        bool asFile, asPage;
    } cases[] = {
        { file(output + "/20070312.html"), true, true },
        { file(output + "/20070312.html").resolved(QUrl("#5")), true, true },
        { file(output + "/popup.js"), true, false },
        { file(output + "/sub/20070314.html"), true, true },
        { file(output + "/../outside/secret.html"), false, false },
        { file(outside + "/secret.html"), false, false },
        { file(output + "/20070320.html"), false, false }, // a link leading out
        { file(output + "-other/20070312.html"), false, false },
        { file("/etc/passwd"), false, false },
        { QUrl("http://127.0.0.1/20070312.html"), false, false },
        { QUrl("https://example.invalid/popup.js"), false, false },
        { QUrl("data:text/html,<p>x</p>"), false, false },
    };
    for (const auto &c : cases) {
        EXPECT_EQ(grid.mayLoad(c.url, false), c.asFile) << c.url.toString().toStdString();
        EXPECT_EQ(grid.mayLoad(c.url, true), c.asPage) << c.url.toString().toStdString();
    }
}

} // namespace
