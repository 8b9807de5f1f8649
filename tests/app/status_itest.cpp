// `pallaro --status` as scripts and monitoring poll it: what it says and its exit status.
#include "app/RunRecords.h"
#include "base/Clock.h"
#include "base/Paths.h"
#include "support/TempHome.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace
{

struct Status {
    int status = -1;
    QString out, err;
};

class StatusCommand : public ::testing::Test
{
protected:
    // The guide's days from today to today + `lastDay`, in the home in force.
    void guideUntil(int lastDay)
    {
        for (int n = 0; n <= lastDay; ++n)
            ASSERT_TRUE(writeFile(Paths::outputFolder() + "/"
                    + Clock::today().addDays(n).toString("yyyyMMdd") + ".tgd",
                "7\t2026-12-07 18:00\t30\tNews\t\t\tG\tN\r\n"));
    }
    void recordRun(RunRecords::Job job, bool ok, int minutesAgo, const QString &cause)
    {
        RunOutcome o;
        o.time = Clock::now().addSecs(-60 * minutesAgo);
        o.ok = ok;
        o.cause = cause;
        o.by = "timer";
        ASSERT_TRUE(RunRecords::write(job, o));
    }
    Status status(const QStringList &environment = { "PATH=/nowhere" })
    {
        Status s;
        s.status = runPallaro({ "--status" }, environment, &s.out, &s.err);
        return s;
    }
    TempHome home;
};

TEST_F(StatusCommand, ExitsZeroOnlyWhenTheLatestRunSucceededAndTheGuideLasts)
{
    const struct {
        const char *what;
        int lastDay; // -1: no guide
        std::optional<bool> fetchOk, uploadOk; // absent: never ran
        bool fetchIsLater;
        int status;
    } cases[] = {
        { "both ran well, a week of guide", 6, true, true, false, 0 },
        { "a guide ending the day after tomorrow is enough", 2, true, true, false, 0 },
        { "a guide ending tomorrow is not", 1, true, true, false, 1 },
        { "no guide", -1, true, true, false, 1 },
        { "the latest, the upload, failed", 6, true, false, false, 1 },
        { "an earlier failure does not count", 6, false, true, false, 0 },
        { "the latest, the fetch, failed", 6, false, true, true, 1 },
        { "only a fetch, which worked", 6, true, std::nullopt, true, 0 },
        { "nothing ever ran", 6, std::nullopt, std::nullopt, false, 1 },
    };
    for (const auto &c : cases) {
        TempHome fresh;
        if (c.lastDay >= 0)
            guideUntil(c.lastDay);
        if (c.fetchOk)
            recordRun(RunRecords::Job::Fetch, *c.fetchOk, c.fetchIsLater ? 1 : 5, "fetch cause");
        if (c.uploadOk)
            recordRun(RunRecords::Job::Upload, *c.uploadOk, c.fetchIsLater ? 5 : 1, "upload cause");
        const Status s = status();
        EXPECT_EQ(s.status, c.status) << c.what << "\n" << s.out.toStdString();
        EXPECT_EQ(s.out.contains("\nWarning: "), c.lastDay < 2) << c.what;
        EXPECT_TRUE(s.err.isEmpty()) << s.err.toStdString();
    }
}

TEST_F(StatusCommand, SaysTheGuideTheRunsWithTheirCausesAndTheDailyRun)
{
    guideUntil(1);
    recordRun(RunRecords::Job::Fetch, true, 60, "7 day files written");
    recordRun(RunRecords::Job::Upload, false, 59, "The recorder could not be opened");
    ASSERT_EQ(runPallaro({ "--set", "autoRunTime=06:05" }, { "PATH=/nowhere" }, nullptr), 0);
    ASSERT_EQ(runPallaro({ "--set", "autoRun=YES" }, { "PATH=/nowhere" }, nullptr), 0);

    // What systemd says of the timer's next start.
    QTemporaryDir bin;
    ASSERT_TRUE(writeFile(bin.path() + "/systemctl",
        "#!/bin/sh\n[ \"$*\" = '--user show pallaro-daily.timer "
        "--property=NextElapseUSecRealtime --value' ] && echo 'Tue 2026-12-08 06:05:00 AEDT'\n"));
    QFile::setPermissions(bin.path() + "/systemctl", QFile::ReadOwner | QFile::ExeOwner);

    const Status s = status({ "PATH=" + bin.path() });
    EXPECT_EQ(s.status, 1);
    const QDate today = Clock::today();
    const QString at = Clock::now().addSecs(-60 * 60).toString("yyyy-MM-dd HH:mm");
    const QString upAt = Clock::now().addSecs(-59 * 60).toString("yyyy-MM-dd HH:mm");
    EXPECT_EQ(s.out,
        "Guide: " + today.toString(Qt::ISODate) + " to " + today.addDays(1).toString(Qt::ISODate)
            + " (2 days)\n"
              "Last fetch: "
            + at
            + " (daily run): succeeded: 7 day files written\n"
              "Last upload: "
            + upAt
            + " (daily run): failed: The recorder could not be opened\n"
              "Daily run: on at 06:05, next Tue 2026-12-08 06:05:00 AEDT\n"
              "Warning: The guide ends on "
            + today.addDays(1).toString(Qt::ISODate)
            + ": fetch soon, or the recorder runs out of it.\n");
}

TEST_F(StatusCommand, ADamagedRecordIsAnError)
{
    guideUntil(6);
    recordRun(RunRecords::Job::Fetch, true, 5, "7 day files written");
    ASSERT_TRUE(writeFile(RunRecords::path(RunRecords::Job::Upload), "{ not json"));
    const Status s = status();
    EXPECT_EQ(s.status, 2);
    EXPECT_TRUE(s.out.contains("Last upload: unknown\n")) << s.out.toStdString();
    EXPECT_TRUE(s.err.startsWith(
        "pallaro: " + RunRecords::path(RunRecords::Job::Upload) + ": not a run record"))
        << s.err.toStdString();
    EXPECT_EQ(s.err.count('\n'), 1);
}

TEST_F(StatusCommand, GoesAlone)
{
    QString out, err;
    EXPECT_EQ(runPallaro({ "--status", "--download" }, {}, &out, &err), 2);
    EXPECT_EQ(err, "pallaro: --status goes alone (see pallaro --help)\n");
}

} // namespace
