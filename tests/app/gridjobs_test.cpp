#include "app/GridJobs.h"

#include <gtest/gtest.h>
#include <set>

namespace
{

// Pages of a long guide, processes that end as the test says: never more at once than
// the limit, every page started once and in order.
TEST(GridJobs, NoMoreAtOnceThanTheLimitAndEveryPageInTurn)
{
    for (const int limit : { 0, 1, 2, 33 }) {
        std::set<qint64> running;
        std::vector<QString> started;
        qint64 nextPid = 100;
        size_t most = 0;
        GridJobs jobs(
            limit,
            [&](const QString &page) -> std::optional<qint64> {
                started.push_back(page);
                if (page.endsWith("7.xml"))
                    return std::nullopt; // a process that would not start
                running.insert(nextPid);
                most = std::max(most, running.size());
                return nextPid++;
            },
            [&](qint64 pid) { return running.count(pid) > 0; });
        std::vector<QString> pages;
        for (int day = 0; day < 200; ++day)
            pages.push_back(QString("2099%1.xml").arg(day, 4, 10, QChar('0')));
        for (const QString &page : pages)
            jobs.add(page);
        std::vector<QString> told;
        for (int round = 0; round < 1000 && (jobs.anyWaiting() || jobs.anyRunning()); ++round) {
            for (const QString &page : jobs.startWaiting())
                told.push_back(page);
            // One process ends per round, the oldest first.
            if (!running.empty())
                running.erase(running.begin());
        }
        EXPECT_EQ(most, size_t(std::max(limit, 1))) << limit;
        EXPECT_EQ(started, pages) << limit;
        EXPECT_EQ(told, pages) << limit;
        EXPECT_FALSE(jobs.anyWaiting());
    }
}

} // namespace
