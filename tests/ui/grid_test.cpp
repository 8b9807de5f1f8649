#include "base/Paths.h"
#include "support/FixedClock.h"
#include "support/TempHome.h"
#include "ui/GridController.h"

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
        { "a row", [](GridController &g) { g.displayPage(0); }, { "20070312.html" }, 0 },
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

} // namespace
