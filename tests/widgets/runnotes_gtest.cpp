// The window at its start says how the last unattended run went and when the guide runs
// out; with nothing to say it says nothing.
#include "app/EPGController.h"
#include "app/RunRecords.h"
#include "base/Clock.h"
#include "base/Paths.h"
#include "support/TempHome.h"
#include "widgets/MainWindow.h"
#include "widgets/RunNotesBar.h"

#include <gtest/gtest.h>

namespace
{

void guideUntil(int lastDay)
{
    for (int n = 0; n <= lastDay; ++n)
        ASSERT_TRUE(writeFile(
            Paths::outputFolder() + "/" + Clock::today().addDays(n).toString("yyyyMMdd") + ".tgd",
            "7\t2026-12-07 18:00\t30\tNews\t\t\tG\tN\r\n"));
}

void recordRun(bool ok, const QString &by, int attempt, const QString &cause)
{
    RunOutcome o;
    o.time = Clock::now().addSecs(-3 * 3600);
    o.ok = ok;
    o.by = by;
    o.attempt = attempt;
    o.cause = cause;
    ASSERT_TRUE(RunRecords::write(RunRecords::Job::Unattended, o));
}

TEST(RunNotes, TheWindowSaysHowTheLastUnattendedRunWentAndWhenTheGuideEnds)
{
    const QString when = Clock::now().addSecs(-3 * 3600).toString("yyyy-MM-dd HH:mm");
    const QString ends = Clock::today().addDays(1).toString(Qt::ISODate);
    const struct {
        const char *what;
        int lastDay;
        std::optional<bool> ok; // the last unattended run's; absent: none
        QString by;
        bool shown, alarming;
        QString text;
    } cases[] = {
        { "all well, no unattended run", 6, std::nullopt, "", false, false, "" },
        { "the daily run gave up", 6, false, "timer", true, true,
            "The daily run of " + when
                + " failed after 4 tries. Fetch failed: The download brought nothing" },
        { "the daily run worked", 6, true, "timer", true, false,
            "The daily run of " + when + " succeeded. Fetch: 7 day files written" },
        { "a terminal run failed, the guide ends tomorrow", 1, false, "headless", true, true,
            "The run without the window of " + when
                + " failed. Fetch failed: The download brought nothing\nThe guide ends on " + ends
                + ": fetch soon, or the recorder runs out of it." },
    };
    for (const auto &c : cases) {
        TempHome home;
        guideUntil(c.lastDay);
        if (c.ok)
            recordRun(*c.ok, c.by, 4,
                *c.ok ? "Fetch: 7 day files written"
                      : "Fetch failed: The download brought nothing");
        MainWindow window;
        window.show();
        window.awakeFromNib();
        EXPECT_EQ(window.runNotes()->isVisible(), c.shown) << c.what;
        EXPECT_EQ(window.runNotes()->isAlarming(), c.alarming) << c.what;
        if (c.shown) {
            EXPECT_EQ(window.runNotes()->text(), c.text) << c.what;
        }
        window.controller()->applicationWillTerminate();
    }
}

} // namespace
