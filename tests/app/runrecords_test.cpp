// The records of fetches and uploads, and what a windowless run makes of them: its record,
// the daily run's tries, and when the desktop is told.
#include "app/RunRecords.h"
#include "app/RunReport.h"
#include "app/Unattended.h"
#include "base/Clock.h"
#include "support/SydneyTime.h"
#include "support/TempHome.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace
{

RunOutcome job(bool ok, const QString &cause)
{
    RunOutcome o;
    o.time = Clock::now();
    o.ok = ok;
    o.cause = cause;
    o.by = "timer";
    return o;
}

TEST(RunRecords, AnOutcomeComesBackAsItWasWrittenInAnyZone)
{
    TempHome home;
    RunOutcome o = job(false, "The download brought nothing:\n\tline two");
    o.attempt = 3;
    ASSERT_TRUE(RunRecords::write(RunRecords::Job::Fetch, o));
    std::optional<RunOutcome> back;
    {
        const LocalZone elsewhere("America/New_York");
        back = RunRecords::read(RunRecords::Job::Fetch);
    }
    ASSERT_TRUE(back);
    EXPECT_EQ(back->time.toSecsSinceEpoch(), o.time.toSecsSinceEpoch());
    EXPECT_FALSE(back->ok);
    EXPECT_EQ(back->cause, "The download brought nothing:");
    EXPECT_EQ(back->by, "timer");
    EXPECT_EQ(back->attempt, 3);
    // The upload's record is another file: never written, nothing to say and no complaint.
    QString why;
    EXPECT_FALSE(RunRecords::read(RunRecords::Job::Upload, &why));
    EXPECT_TRUE(why.isEmpty());
}

TEST(RunRecords, ADamagedRecordIsNoOutcomeAndSaysWhy)
{
    TempHome home;
    const QByteArray cases[]
        = { "", "{", "[]", "{\"ok\": true}", "{\"time\": \"yesterday\", \"ok\": true}",
              "{\"time\": \"2026-12-07T06:05:00+11:00\"}", QByteArray(70000, ' ') };
    for (const QByteArray &bytes : cases) {
        ASSERT_TRUE(writeFile(RunRecords::path(RunRecords::Job::Upload), bytes));
        QString why;
        EXPECT_FALSE(RunRecords::read(RunRecords::Job::Upload, &why)) << bytes.left(40).data();
        EXPECT_TRUE(why.startsWith(RunRecords::path(RunRecords::Job::Upload) + ": "))
            << why.toStdString();
    }
}

TEST(RunRecords, ACauseIsOneLineATerminalCanShow)
{
    const struct {
        QString text, line;
    } cases[] = {
        { "", "" },
        { "\n\n  Sending 20261208.tgd failed  \nmore", "Sending 20261208.tgd failed" },
        { "bell\a and\x1b[31m escape", "bell and [31m escape" },
        { "tabs\tand  spaces", "tabs and spaces" },
    };
    for (const auto &c : cases)
        EXPECT_EQ(RunRecords::causeLine(c.text), c.line) << c.text.toStdString();
}

TEST(Unattended, TheRunsOutcomeNamesTheJobsThatDecidedIt)
{
    const RunOutcome fetched = job(true, "7 day files written");
    const RunOutcome notFetched = job(false, "The download brought nothing");
    const RunOutcome sent = job(true, "7 day files sent");
    const RunOutcome notSent = job(false, "The recorder could not be opened");
    const struct {
        std::optional<RunOutcome> fetch, upload;
        bool ok;
        QString cause;
    } cases[] = {
        { fetched, sent, true, "Fetch: 7 day files written; Upload: 7 day files sent" },
        { notFetched, sent, false, "Fetch failed: The download brought nothing" },
        { fetched, notSent, false, "Upload failed: The recorder could not be opened" },
        { notFetched, notSent, false,
            "Fetch failed: The download brought nothing; Upload failed: The recorder could not "
            "be opened" },
        { std::nullopt, notSent, false, "Upload failed: The recorder could not be opened" },
        { fetched, std::nullopt, true, "Fetch: 7 day files written" },
    };
    for (const auto &c : cases) {
        const RunOutcome run
            = Unattended::outcome(c.fetch, c.upload, "headless", std::nullopt, Clock::now());
        EXPECT_EQ(run.ok, c.ok) << c.cause.toStdString();
        EXPECT_EQ(run.cause, c.cause);
        EXPECT_EQ(run.time, Clock::now());
        EXPECT_EQ(Unattended::tellsDesktop(run), !c.ok) << c.cause.toStdString();
    }
}

// The daily run's service restarts a failed run; only its last try tells the desktop.
TEST(Unattended, TheDailyRunTellsTheDesktopAfterItsLastTry)
{
    const QDateTime now = Clock::now();
    auto previous = [&now](const QString &by, bool ok, int attempt, int minutesAgo) {
        RunOutcome p;
        p.by = by;
        p.ok = ok;
        p.attempt = attempt;
        p.time = now.addSecs(-60 * minutesAgo);
        return std::optional<RunOutcome>(p);
    };
    const int last = Unattended::kTries;
    const struct {
        const char *what;
        std::optional<RunOutcome> previous;
        int attempt;
    } cases[] = {
        { "first try", std::nullopt, 1 },
        { "the try after a failed one", previous("timer", false, 1, 12), 2 },
        { "the last try", previous("timer", false, last - 1, 12), last },
        { "after a success", previous("timer", true, 1, 12), 1 },
        { "yesterday's last try", previous("timer", false, last, 24 * 60), 1 },
        { "after a run from a terminal", previous("headless", false, 1, 12), 1 },
        { "a record a little ahead of the clock", previous("timer", false, 2, -1), 3 },
        { "tomorrow's record, the clock set back", previous("timer", false, 2, -24 * 60), 1 },
    };
    const RunOutcome failed = job(false, "The download brought nothing");
    for (const auto &c : cases) {
        const RunOutcome run = Unattended::outcome(failed, std::nullopt, "timer", c.previous, now);
        EXPECT_EQ(run.attempt, c.attempt) << c.what;
        EXPECT_EQ(Unattended::tellsDesktop(run), c.attempt >= last) << c.what;
    }
    // A success tells nothing, however many tries came before it.
    const RunOutcome ok = Unattended::outcome(job(true, "7 day files written"), std::nullopt,
        "timer", previous("timer", false, 3, 12), now);
    EXPECT_EQ(ok.attempt, 1);
    EXPECT_FALSE(Unattended::tellsDesktop(ok));

    RunOutcome gaveUp
        = Unattended::outcome(failed, std::nullopt, "timer", previous("timer", false, 3, 12), now);
    EXPECT_EQ(Unattended::notificationSummary(gaveUp), "Pallaro: the daily run failed");
    EXPECT_TRUE(Unattended::notificationBody(gaveUp).startsWith(
        QString("Fetch failed: The download brought nothing (tried %1 times)").arg(last)));
}

TEST(RunReport, TheGuideWarnsWhenItEndsWithinTwoDays)
{
    TempHome home;
    const QString output = home.supportFolder() + "/output";
    const QDate today = Clock::today();
    auto day = [&today](int n) { return today.addDays(n).toString("yyyyMMdd"); };
    // Past days, companions and names that are no day do not count.
    for (const QString &name : QStringList { day(-1) + ".tgd", day(5) + ".html", "kR.zip",
             "2026120.tgd", "20261399.tgd", day(9) + "x.tgd" })
        ASSERT_TRUE(writeFile(output + "/" + name, "x"));
    EXPECT_FALSE(RunReport::guideOnDisk(output, today));
    EXPECT_EQ(RunReport::guideWarning(std::nullopt, today),
        "There is no guide for today or later: fetch it.");

    const struct {
        int lastDay;
        bool warns;
    } cases[] = { { 0, true }, { 1, true }, { 2, false }, { 6, false } };
    for (const auto &c : cases) {
        QTemporaryDir folder;
        for (int n = 0; n <= c.lastDay; ++n)
            ASSERT_TRUE(writeFile(folder.path() + "/" + day(n) + ".tgd", "x"));
        const auto guide = RunReport::guideOnDisk(folder.path(), today);
        ASSERT_TRUE(guide);
        EXPECT_EQ(guide->first, today);
        EXPECT_EQ(guide->last, today.addDays(c.lastDay));
        const QString warning = RunReport::guideWarning(guide, today);
        EXPECT_EQ(!warning.isEmpty(), c.warns) << c.lastDay;
        if (c.warns) {
            EXPECT_TRUE(warning.contains(today.addDays(c.lastDay).toString(Qt::ISODate)));
        }
    }
}

} // namespace
