#include "base/UiQueue.h"

#include <QThread>

// Invoked by name: a queued call by name is built and delivered inside Qt, so nothing of
// ours is written on one thread and read on the other without our mutex between.
class UiQueueWaker : public QObject
{
    Q_OBJECT
public:
    UiQueueWaker(UiQueue *queue, QObject *owner)
        : QObject(owner)
        , queue_(queue)
    {
    }
    Q_INVOKABLE void wake() { queue_->runNext(); }

private:
    UiQueue *queue_;
};

UiQueue::UiQueue(QObject *owner)
    : owner_(owner)
    , waker_(new UiQueueWaker(this, owner))
{
}

UiQueue::~UiQueue()
{
    // Its pending wake-ups go with it.
    delete waker_;
}

void UiQueue::run(std::function<void()> work)
{
    bool now;
    {
        std::lock_guard lock(mutex_);
        now = QThread::currentThread() == owner_->thread() && unfinished_ == 0;
        if (!now) {
            queued_.push_back(std::move(work));
            ++unfinished_;
        }
    }
    if (now) {
        work();
        return;
    }
    // One wake-up per request, each running the oldest: other events still get their turn
    // between two requests.
    QMetaObject::invokeMethod(waker_, "wake", Qt::QueuedConnection);
}

void UiQueue::runNext()
{
    std::function<void()> work;
    {
        std::lock_guard lock(mutex_);
        if (queued_.empty())
            return;
        work = std::move(queued_.front());
        queued_.pop_front();
    }
    work();
    std::lock_guard lock(mutex_);
    --unfinished_;
}

#include "UiQueue.moc"
