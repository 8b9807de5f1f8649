#include "ui/ModeController.h"

ModeController::ModeController()
    : modeList_{QStringLiteral("TGDs"), QStringLiteral("Keywords"), QStringLiteral("Grid"),
                QStringLiteral("Now on")}
{
}

QString ModeController::objectValue(int row) const
{
    return row >= 0 && row < modeList_.size() ? modeList_.at(row) : QString();
}

void ModeController::selectionDidChange(int selectedRow)
{
    if (view_ && selectedRow >= 0 && selectedRow < modeList_.size())
        view_->showTab(selectedRow);
}

void ModeController::selectTab(const QString &senderTitle)
{
    if (!view_)
        return;
    const int index = view_->tabIndexForIdentifier(senderTitle);
    if (index < 0)
        return;
    view_->showTab(index);
    view_->selectModeRow(index);
}
