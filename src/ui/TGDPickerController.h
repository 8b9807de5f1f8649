#pragma once

#include "base/UiQueue.h"
#include "guide/TGDEntry.h"
#include "ui/ProgrammeSearch.h"

#include <QObject>
#include <QVariant>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

// What the detail area beside the programme table shows.
struct ProgrammeDetail {
    QString description;
    bool descriptionGrey = true; // grey for "No rows selected" / "Multiple rows selected"
    QString sub;
    QString cat;
    bool extVisible = false; // the two extension fields with their captions
    QString extStart; // the fields' text: whole minutes
    QString extStop;
};

// The window's side of the programme table. Called on the UI thread only.
class ProgrammeListView
{
public:
    virtual ~ProgrammeListView() = default;
    // Show these programmes (the shown list as it stands).
    virtual void showProgrammes(const TGDEntryList &list) = 0;
    // A day file was read: the search has ended; clear its text.
    virtual void endSearch() { }
    // The sort indicator goes on this column, and off every other one.
    virtual void showSortIndicator(const QString &column, bool ascending)
    {
        (void)column;
        (void)ascending;
    }
    virtual void showDetail(const ProgrammeDetail &detail) { (void)detail; }
};

// The programme table: the working list, the search over it, sorting by a column, the
// edits of a programme and the detail area of the selection. Lives on the UI thread;
// setFileList, reloadTable and endSearch may be called from any thread and take effect
// there in call order. Everything else is UI thread only.
class TGDPickerController : public QObject
{
    Q_OBJECT
public:
    // Carries a change of a shared programme out (see setEditor).
    using Editor
        = std::function<void(const TGDEntryPtr &entry, std::function<void(TGDEntry &)> change)>;

    explicit TGDPickerController(QObject *parent = nullptr);

    void setView(ProgrammeListView *view) { view_ = view; }
    // Where edits go: the owner of the records, so that an edit never races a reload.
    // Without one an edit is made at once.
    void setEditor(Editor editor) { editor_ = std::move(editor); }

    // The working list itself.
    const TGDEntryList &getFileData() const { return fileData_.list; }
    const TGDEntryList &getSearchList() const { return searchList_.list; }
    // The search result while a search is active, the working list otherwise.
    const TGDEntryList &shownList() const
    {
        return searchIsActive_ ? searchList_.list : fileData_.list;
    }
    bool searchIsActive() const { return searchIsActive_; }
    bool sortAscending() const { return sortAscending_; }
    const std::optional<QString> &selectedColumn() const { return selectedColumn_; }
    const ProgrammeDetail &detail() const { return detail_; }

    // Replaces the working list (no list: empty) and prepares it for searching and
    // sorting, on the calling thread. Neither redisplays nor ends a search: an active
    // search keeps its result in front until its text changes or is cleared.
    void setFileList(TGDEntryList list);
    void reloadTable();
    // A day file was read: the search ends and its field is cleared.
    void endSearch();

    // The search field's text changed: empty ends the search, anything else searches the
    // working list. Redisplays.
    void search(const QString &text);
    // A cell edit: stores `value` under the column's key, then the extension area follows
    // this programme (shown with 0/0 when it is now recorded, hidden otherwise).
    // Redisplays.
    void setObjectValue(const TGDEntryPtr &entry, const QString &column, const QVariant &value);
    // The selected programmes, in row order.
    void selectionDidChange(const TGDEntryList &selected);
    // The extension fields' text changed: both become the programme's "extStart" and
    // "extStop" (the leading integer of each; none reads 0).
    void changeExt(const QString &extStart, const QString &extStop);
    // A click on a column header: sorts the shown list by it (ProgrammeIndex::sort), the
    // first click ascending, each further click on the same column the other way.
    void didClickTableColumn(const QString &column);

private:
    void edit(const TGDEntryPtr &entry, std::function<void(TGDEntry &)> change);
    void showDetail();

    ProgrammeIndex::Rows fileData_;
    ProgrammeIndex::Rows searchList_;
    std::shared_ptr<const ProgrammeIndex> index_ = std::make_shared<const ProgrammeIndex>();
    // The list last handed to setFileList and its index, for any thread.
    std::mutex lastMutex_;
    TGDEntryList lastList_;
    std::shared_ptr<const ProgrammeIndex> lastIndex_;
    // The index the search result came from: the working list may have been replaced since.
    std::shared_ptr<const ProgrammeIndex> searchIndex_ = index_;
    bool sortAscending_ = true;
    std::optional<QString> selectedColumn_;
    bool searchIsActive_ = false;
    ProgrammeDetail detail_;
    // The programme whose extensions the fields show: changeExt writes to it.
    TGDEntryPtr extEntry_;
    ProgrammeListView *view_ = nullptr;
    Editor editor_;
    UiQueue ui_ { this };
};
