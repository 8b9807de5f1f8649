#include "ui/TGDPickerController.h"


TGDPickerController::TGDPickerController(QObject *parent)
    : QObject(parent)
{
}

void TGDPickerController::setFileList(TGDEntryList list)
{
    ui_.run([this, list = std::move(list)]() mutable { fileData_ = std::move(list); });
}

void TGDPickerController::reloadTable()
{
    ui_.run([this] {
        if (view_)
            view_->showProgrammes(fileData_);
    });
}

void TGDPickerController::endSearch()
{
    ui_.run([this] {
        if (view_)
            view_->endSearch();
    });
}
