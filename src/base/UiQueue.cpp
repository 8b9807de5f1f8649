#include "base/UiQueue.h"

#include <QThread>

void UiQueue::run(std::function<void()> work)
{
    if (QThread::currentThread() == owner_->thread() && pending_.loadAcquire() == 0) {
        work();
        return;
    }
    pending_.fetchAndAddOrdered(1);
    QMetaObject::invokeMethod(
        owner_,
        [this, work = std::move(work)] {
            work();
            pending_.fetchAndAddOrdered(-1);
        },
        Qt::QueuedConnection);
}
