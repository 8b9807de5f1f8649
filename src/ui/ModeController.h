#pragma once

#include <QStringList>

// The window's side of the mode list and the main tab view.
class ModeView {
public:
    virtual ~ModeView() = default;
    virtual void showTab(int index) = 0;
    // Index of the tab whose identifier is `identifier`, or -1.
    virtual int tabIndexForIdentifier(const QString &identifier) const = 0;
    // Replaces the mode list's selection by `row`; the view reports it back through
    // ModeController::selectionDidChange like a user's selection.
    virtual void selectModeRow(int row) = 0;
};

// Keeps the mode list and the main tab view in step. Row n shows tab n.
class ModeController {
public:
    ModeController();

    void setView(ModeView *view) { view_ = view; }

    const QStringList &modeList() const { return modeList_; }
    int numberOfRows() const { return int(modeList_.size()); }
    QString objectValue(int row) const;

    // The mode list's selection changed; -1 when nothing is selected (the tab stays).
    void selectionDidChange(int selectedRow);
    // A button asks for the tab whose identifier is its title.
    void selectTab(const QString &senderTitle);

private:
    QStringList modeList_;
    ModeView *view_ = nullptr;
};
