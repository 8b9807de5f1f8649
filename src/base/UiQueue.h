#pragma once

#include <QObject>
#include <deque>
#include <functional>
#include <mutex>

// Carries work out on the thread of its owner (the UI thread), in the order it was asked
// for, whatever thread asks. A call made on that thread runs at once, unless requests from
// workers are still waiting: then it waits behind them, so no change overtakes another.
//
// The work crosses threads through this queue's own mutex; Qt's event queue only carries a
// wake-up without data, so the hand-over is one ThreadSanitizer can follow. Requests still
// queued when the owner goes are dropped with it.
class UiQueue {
public:
    explicit UiQueue(QObject *owner);
    ~UiQueue();
    UiQueue(const UiQueue &) = delete;
    UiQueue &operator=(const UiQueue &) = delete;

    void run(std::function<void()> work);

private:
    friend class UiQueueWaker;
    void runNext();

    QObject *owner_;
    QObject *waker_; // a child of the owner, so on its thread
    std::mutex mutex_;
    std::deque<std::function<void()>> queued_;
    int unfinished_ = 0; // queued or running
};
