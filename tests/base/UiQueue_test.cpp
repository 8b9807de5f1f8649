#include "base/UiQueue.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <gtest/gtest.h>
#include <memory>
#include <numeric>
#include <thread>

namespace
{

struct Owner : QObject {
    UiQueue ui { this };
};

void processFor(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

// Each request records its number, and whether it ran on the owner's thread; the records
// are only touched there.
struct Requests {
    std::vector<int> order;
    bool allOnOwnerThread = true;
    std::function<void()> request(int n)
    {
        return [this, n] {
            allOnOwnerThread = allOnOwnerThread && QThread::currentThread() == qApp->thread();
            order.push_back(n);
        };
    }
};

TEST(UiQueue, CallsFromAnyThreadRunOnTheOwnersThreadInTheOrderAsked)
{
    Owner owner;
    Requests seen;
    // Nothing waiting: the owner's thread runs its request at once.
    owner.ui.run(seen.request(0));
    EXPECT_EQ(seen.order, std::vector<int> { 0 });
    std::thread worker([&] {
        for (int n = 1; n <= 50; ++n)
            owner.ui.run(seen.request(n));
    });
    worker.join();
    // The workers' requests still wait: this one goes behind them, as do the requests a
    // request makes.
    owner.ui.run([&] {
        seen.order.push_back(51);
        owner.ui.run(seen.request(53));
    });
    owner.ui.run(seen.request(52));
    EXPECT_EQ(seen.order.size(), 1u);
    processFor(200);
    std::vector<int> expected(54);
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_EQ(seen.order, expected);
    EXPECT_TRUE(seen.allOnOwnerThread);
    // All done: the owner's thread runs at once again.
    owner.ui.run(seen.request(54));
    EXPECT_EQ(seen.order.back(), 54);
}

TEST(UiQueue, RequestsStillQueuedWhenTheOwnerGoesNeverRun)
{
    auto owner = std::make_unique<Owner>();
    auto ran = std::make_shared<int>(0);
    std::thread worker([&] {
        for (int n = 0; n < 10; ++n)
            owner->ui.run([ran] { ++*ran; });
    });
    worker.join();
    owner.reset();
    processFor(100);
    EXPECT_EQ(*ran, 0);
    // Dropped with their captures.
    EXPECT_EQ(ran.use_count(), 1);
}

} // namespace
