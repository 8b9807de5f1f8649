#include "base/DataFolderLock.h"
#include "base/Paths.h"
#include "support/TempHome.h"

#include <QDir>
#include <QLockFile>
#include <QThread>
#include <atomic>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

namespace
{

class DataFolderLockTest : public ::testing::Test
{
protected:
    DataFolderLockTest()
    {
        QDir().mkpath(Paths::applicationSupportFolder());
        DataFolderLock::setPatience(50);
        DataFolderLock::setReporter([this](const QString &line) {
            std::lock_guard lock(mutex);
            said << line;
        });
    }
    ~DataFolderLockTest() override
    {
        DataFolderLock::setReporter({});
        DataFolderLock::setPatience(2000);
    }
    QStringList lines()
    {
        std::lock_guard lock(mutex);
        return said;
    }

    TempHome home;
    std::mutex mutex;
    QStringList said;
};

// Another program holds the lock (a lock file of a live process): the writer waits, says
// so once, and goes on when it is given up.
TEST_F(DataFolderLockTest, WaitsForAnotherProgramAndSaysSo)
{
    QLockFile other(DataFolderLock::path());
    ASSERT_TRUE(other.tryLock(0));
    std::atomic<bool> got { false };
    std::thread writer([&] {
        DataFolderLock lock;
        got = true;
    });
    QThread::msleep(400);
    EXPECT_FALSE(got);
    other.unlock();
    writer.join();
    EXPECT_TRUE(got);
    ASSERT_EQ(lines().size(), 1);
    EXPECT_TRUE(lines().front().contains("Waiting for another Pallaro program"));
}

// Threads of one program take turns; the holder may take it again inside.
TEST_F(DataFolderLockTest, ThreadsTakeTurnsAndTheHolderMayNest)
{
    int inside = 0, most = 0;
    std::vector<std::thread> writers;
    for (int i = 0; i < 4; ++i)
        writers.emplace_back([&] {
            for (int n = 0; n < 20; ++n) {
                DataFolderLock outer;
                DataFolderLock inner;
                EXPECT_TRUE(DataFolderLock::heldByThisThread());
                most = std::max(most, ++inside);
                QThread::usleep(200);
                --inside;
            }
            EXPECT_FALSE(DataFolderLock::heldByThisThread());
        });
    for (std::thread &t : writers)
        t.join();
    EXPECT_EQ(most, 1);
    EXPECT_FALSE(QFileInfo::exists(DataFolderLock::path()));
}

// A writer that died holding it does not stop the next one.
TEST_F(DataFolderLockTest, TakesOverTheLockOfADeadWriter)
{
    ASSERT_TRUE(writeFile(DataFolderLock::path(), "2147483000\npallaro\n\n"));
    DataFolderLock lock;
    EXPECT_TRUE(DataFolderLock::heldByThisThread());
    EXPECT_TRUE(lines().isEmpty());
}

} // namespace
