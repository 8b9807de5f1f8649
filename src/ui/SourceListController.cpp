#include "ui/SourceListController.h"

#include "base/FolderWalk.h"

#include "ui/KeywordController.h"
#include "ui/TGDPickerController.h"

#include <algorithm>

QVariant GuideDayRow::value(const QString &key) const
{
    if (key == QLatin1String("rawDate"))
        return rawDate ? QVariant(*rawDate) : QVariant();
    if (key == QLatin1String("date"))
        return date ? QVariant(*date) : QVariant();
    if (key == QLatin1String("file"))
        return file;
    if (key == QLatin1String("downloaded"))
        return downloaded;
    if (key == QLatin1String("fileCount"))
        return fileCount;
    return {};
}

SourceListController::SourceListController(QObject *parent)
    : QObject(parent)
{
}

GuideDayRows SourceListController::fileList() const
{
    QMutexLocker lock(&mutex_);
    return fileList_;
}

void SourceListController::setFileList(const GuideDayRows &rows)
{
    QMutexLocker lock(&mutex_);
    if (rows == fileList_)
        return;
    fileList_ = rows;
}

void SourceListController::reloadTable()
{
    ui_.run([this, snapshot = fileList()] {
        if (view_)
            view_->showRows(snapshot);
    });
}

void SourceListController::setCount(int count, const QString &date)
{
    {
        QMutexLocker lock(&mutex_);
        for (const GuideDayRowPtr &row : fileList_) {
            if (!row->rawDate)
                continue;
            if (withoutExtension(*row->rawDate) == date)
                row->fileCount = count;
        }
    }
    reloadTable();
}

QStringList SourceListController::daysOfRows(const std::vector<int> &indexes) const
{
    const GuideDayRows rows = fileList();
    QMutexLocker lock(&mutex_);
    QStringList days;
    for (int index : indexes)
        if (index >= 0 && size_t(index) < rows.size() && rows[size_t(index)]->rawDate)
            days << withoutExtension(*rows[size_t(index)]->rawDate);
    return days;
}

std::vector<int> SourceListController::rowsToSelect(const QDate &today) const
{
    const GuideDayRows rows = fileList();
    QMutexLocker lock(&mutex_);
    std::vector<int> chosen;
    for (size_t i = 0; i < rows.size(); ++i)
        if (rows[i]->rawDate && selectedDays_.contains(withoutExtension(*rows[i]->rawDate)))
            chosen.push_back(int(i));
    if (!chosen.empty())
        return chosen;
    const QString from = today.toString(QStringLiteral("yyyyMMdd"));
    for (size_t i = 0; i < rows.size(); ++i)
        if (rows[i]->rawDate && withoutExtension(*rows[i]->rawDate) >= from)
            return { int(i) };
    return {};
}

QVariant SourceListController::value(const GuideDayRowPtr &row, const QString &key) const
{
    QMutexLocker lock(&mutex_);
    return row ? row->value(key) : QVariant();
}

void SourceListController::updateRow(
    const GuideDayRowPtr &row, const std::function<void(GuideDayRow &)> &change)
{
    QMutexLocker lock(&mutex_);
    if (row)
        change(*row);
}

QString SourceListController::flipName(const QString &date)
{
    return date.mid(4, 4) + date.mid(2, 2) + date.mid(0, 2);
}

void SourceListController::tableViewSelectionDidChange(
    std::vector<int> selectedRows, int lastSelectedRow)
{
    if (displayPage_)
        displayPage_(lastSelectedRow);
    const GuideDayRows rows = fileList();
    const auto namesDay = [this](const GuideDayRowPtr &row) {
        return value(row, QStringLiteral("rawDate")).isValid();
    };
    if (std::any_of(rows.begin(), rows.end(), namesDay))
        selectedDays_ = daysOfRows(selectedRows);
    if (!tgdController_)
        return;
    if (selectedRows.empty() || !kwc_) {
        tgdController_->setFileList({});
        tgdController_->reloadTable();
        return;
    }
    std::sort(selectedRows.begin(), selectedRows.end());
    selectedRows.erase(std::unique(selectedRows.begin(), selectedRows.end()), selectedRows.end());
    const TGDEntryList all = kwc_->allTGDEntries();
    TGDEntryList result;
    for (int index : selectedRows) {
        if (index < 0 || size_t(index) >= rows.size())
            continue;
        const QVariant date = value(rows[size_t(index)], QStringLiteral("date"));
        if (!date.isValid())
            continue; // a fetch's placeholder row names no day
        const QString day = flipName(date.toString());
        for (const TGDEntryPtr &e : all)
            if (e->fileNameDataIsFrom == day)
                result.push_back(e);
    }
    tgdController_->setFileList(std::move(result));
    tgdController_->reloadTable();
}
