#pragma once

#include "base/UiQueue.h"
#include "guide/TGDEntry.h"

#include <QObject>
#include <functional>

// The window's side of the programme table. Called on the UI thread only.
class ProgrammeListView
{
public:
    virtual ~ProgrammeListView() = default;
    // Show these programmes (the working list as it stands).
    virtual void showProgrammes(const TGDEntryList &list) = 0;
    // A day file was read: end any search and clear its text.
    virtual void endSearch() { }
};

// The programme table's working list. Lives on the UI thread; setFileList, reloadTable
// and endSearch may be called from any thread and take effect there in call order.
class TGDPickerController : public QObject
{
    Q_OBJECT
public:
    explicit TGDPickerController(QObject *parent = nullptr);

    void setView(ProgrammeListView *view) { view_ = view; }

    // The working list; UI thread only.
    const TGDEntryList &getFileData() const { return fileData_; }
    // Replaces the working list (no list: empty). Does not redisplay.
    void setFileList(TGDEntryList list);
    void reloadTable();
    void endSearch();

private:

    TGDEntryList fileData_;
    ProgrammeListView *view_ = nullptr;
    UiQueue ui_{this};
};
