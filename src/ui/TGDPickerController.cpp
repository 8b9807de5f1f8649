#include "ui/TGDPickerController.h"

#include "guide/TGDFormat.h"

TGDPickerController::TGDPickerController(QObject *parent)
    : QObject(parent)
{
}

void TGDPickerController::setFileList(TGDEntryList list)
{
    // The keyword controller hands the same full list over at every write-out: its index
    // is built once.
    std::shared_ptr<const ProgrammeIndex> index;
    {
        std::lock_guard lock(lastMutex_);
        if (list == lastList_)
            index = lastIndex_;
    }
    if (!index) {
        index = std::make_shared<const ProgrammeIndex>(list);
        std::lock_guard lock(lastMutex_);
        lastList_ = list;
        lastIndex_ = index;
    }
    ui_.run([this, list = std::move(list), index = std::move(index)]() mutable {
        if (list == fileData_.list)
            return;
        fileData_ = ProgrammeIndex::allOf(std::move(list));
        index_ = std::move(index);
        // Other days chosen keep the order the user chose by a header click.
        if (selectedColumn_)
            index_->sort(fileData_, *selectedColumn_, !sortAscending_);
    });
}

void TGDPickerController::reloadTable()
{
    ui_.run([this] {
        if (view_)
            view_->showProgrammes(shownList());
    });
}

void TGDPickerController::endSearch()
{
    ui_.run([this] {
        searchIsActive_ = false;
        if (view_)
            view_->endSearch();
    });
}

void TGDPickerController::search(const QString &text)
{
    if (text.isEmpty()) {
        searchIsActive_ = false;
    } else {
        searchList_ = index_->search(fileData_, text);
        searchIndex_ = index_;
        searchIsActive_ = true;
    }
    reloadTable();
}

void TGDPickerController::edit(const TGDEntryPtr &entry, std::function<void(TGDEntry &)> change)
{
    if (editor_)
        editor_(entry, std::move(change));
    else
        change(*entry);
}

void TGDPickerController::setObjectValue(
    const TGDEntryPtr &entry, const QString &column, const QVariant &value)
{
    if (!entry)
        return;
    // The editor may have to queue the change behind a reload: what is shown now is what
    // the entry will hold.
    const bool recorded = column == QLatin1String("record") ? value.toBool() : entry->record;
    edit(entry, [column, value](TGDEntry &e) {
        e.setValue(column, value);
        if (e.record) {
            e.extStart = e.extStart.value_or(0);
            e.extStop = e.extStop.value_or(0);
        }
    });
    extEntry_ = entry;
    detail_.extVisible = recorded;
    if (recorded) {
        detail_.extStart = QString::number(entry->extStart.value_or(0));
        detail_.extStop = QString::number(entry->extStop.value_or(0));
    }
    showDetail();
    reloadTable();
}

void TGDPickerController::selectionDidChange(const TGDEntryList &selected)
{
    // Every field belongs to the one programme selected, or to none: extension fields left
    // from another programme would change that one.
    detail_ = ProgrammeDetail {};
    extEntry_.reset();
    if (selected.size() == 1) {
        const TGDEntryPtr &e = selected.front();
        detail_.descriptionGrey = false;
        detail_.description = e->description;
        detail_.sub = e->sub;
        detail_.cat = e->cat;
        extEntry_ = e;
        detail_.extVisible = e->record;
        if (e->record) {
            detail_.extStart = QString::number(e->extStart.value_or(0));
            detail_.extStop = QString::number(e->extStop.value_or(0));
        }
    } else {
        detail_.description = selected.empty() ? QStringLiteral("No rows selected")
                                               : QStringLiteral("Multiple rows selected");
    }
    showDetail();
}

void TGDPickerController::changeExt(const QString &extStart, const QString &extStop)
{
    // Hidden fields have nothing to change.
    if (!extEntry_ || !detail_.extVisible)
        return;
    const int start = tgd::leadingInt(extStart);
    const int stop = tgd::leadingInt(extStop);
    edit(extEntry_, [start, stop](TGDEntry &e) {
        e.extStart = start;
        e.extStop = stop;
    });
    detail_.extStart = extStart;
    detail_.extStop = extStop;
}

void TGDPickerController::didClickTableColumn(const QString &column)
{
    const bool ascending = sortAscending_ || selectedColumn_ != column;
    // In place: a working list queued by a worker meanwhile still replaces it afterwards.
    if (searchIsActive_)
        searchIndex_->sort(searchList_, column, ascending);
    else
        index_->sort(fileData_, column, ascending);
    if (view_)
        view_->showSortIndicator(column, ascending);
    selectedColumn_ = column;
    sortAscending_ = !ascending;
    reloadTable();
}

void TGDPickerController::showDetail()
{
    if (view_)
        view_->showDetail(detail_);
}
