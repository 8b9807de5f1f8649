#include "ui/TGDPickerController.h"

#include <QThread>

TGDPickerController::TGDPickerController(QObject *parent)
    : QObject(parent)
{
}

void TGDPickerController::onUiThread(std::function<void()> fn)
{
    // A UI-thread call runs at once only when no worker's request is still waiting, so
    // every change lands in the order it was asked for.
    if (QThread::currentThread() == thread() && pending_.loadAcquire() == 0) {
        fn();
        return;
    }
    pending_.fetchAndAddOrdered(1);
    QMetaObject::invokeMethod(
        this,
        [this, fn = std::move(fn)] {
            fn();
            pending_.fetchAndAddOrdered(-1);
        },
        Qt::QueuedConnection);
}

void TGDPickerController::setFileList(TGDEntryList list)
{
    onUiThread([this, list = std::move(list)]() mutable { fileData_ = std::move(list); });
}

void TGDPickerController::reloadTable()
{
    onUiThread([this] {
        if (view_)
            view_->showProgrammes(fileData_);
    });
}

void TGDPickerController::endSearch()
{
    onUiThread([this] {
        if (view_)
            view_->endSearch();
    });
}
