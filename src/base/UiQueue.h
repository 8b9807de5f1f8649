#pragma once

#include <QAtomicInt>
#include <QObject>

#include <functional>

// Carries work out on the thread of its owner (the UI thread), in the order it was asked
// for, whatever thread asks. A call made on that thread runs at once, unless requests from
// workers are still waiting: then it waits behind them, so no change overtakes another.
class UiQueue {
public:
    explicit UiQueue(QObject *owner)
        : owner_(owner)
    {
    }
    UiQueue(const UiQueue &) = delete;
    UiQueue &operator=(const UiQueue &) = delete;

    void run(std::function<void()> work);

private:
    QObject *owner_;
    QAtomicInt pending_;
};
