#pragma once

#include "base/UiQueue.h"

#include <QDate>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// One row of the guide-day list: a day held as a TGD file, or a fetch's placeholder row.
// Rows are shared between lists; change them only through SourceListController, which
// guards them, because workers update counts and progress while the view reads them.
struct GuideDayRow {
    std::optional<QString> rawDate; // "rawDate": YYYYMMDD.tgd
    std::optional<QString> date; // "date": DDMMYYYY; absent on a fetch's placeholder row
    QString file; // "file": YYYY - MM - DD, or "Loading..."
    QVariant downloaded; // "downloaded": completion in percent
    int fileCount = 0; // "fileCount": programmes loaded from the day's file

    // The value under a quoted key (a column identifier); invalid when absent.
    QVariant value(const QString &key) const;
};
using GuideDayRowPtr = std::shared_ptr<GuideDayRow>;
using GuideDayRows = std::vector<GuideDayRowPtr>;

// The window's side of the guide-day list. Called on the UI thread only.
class DayListView
{
public:
    virtual ~DayListView() = default;
    // Show these rows (the list as it stands when the redisplay was asked for).
    virtual void showRows(const GuideDayRows &rows) = 0;
};

class KeywordController;
class TGDPickerController;

// Holds the guide-day rows and keeps their programme counts. Any thread may change the
// list; the view hears of every change on the UI thread (the controller's thread), in
// the order the changes were made.
class SourceListController : public QObject
{
    Q_OBJECT
public:
    explicit SourceListController(QObject *parent = nullptr);

    void setView(DayListView *view) { view_ = view; }
    // Where the selection's programmes come from and go to, and the grid page turner.
    void setKeywordController(KeywordController *kwc) { kwc_ = kwc; }
    void setProgrammeTable(TGDPickerController *table) { tgdController_ = table; }
    void setPageDisplay(std::function<void(int)> displayPage)
    {
        displayPage_ = std::move(displayPage);
    }

    // The list's selection changed (UI thread): the grid turns to the page of the row
    // selected last (-1: none), and the programme table gets the loaded programmes of the
    // selected days, days in ascending row order, each day in full-list order; with no
    // selection it gets no list.
    // The selected days are remembered, unless the list names no day (empty, or only a
    // fetch's placeholder row).
    void tableViewSelectionDidChange(std::vector<int> selectedRows, int lastSelectedRow);

    // The days (YYYYMMDD) the user chose, kept across list changes and restarts. UI thread.
    QStringList selectedDays() const { return selectedDays_; }
    void setSelectedDays(const QStringList &days) { selectedDays_ = days; }
    // The days (YYYYMMDD) of these rows; rows out of range or naming no day are left out.
    QStringList daysOfRows(const std::vector<int> &rows) const;
    // The rows to select in the list as it stands: those of the chosen days still listed;
    // when none is, the first day from `today` on; none when the list has no such day.
    std::vector<int> rowsToSelect(const QDate &today) const;

    // The current rows (the row records themselves, not copies).
    GuideDayRows fileList() const;
    // Replaces the list by the rows of `rows`; the caller's vector is not kept. Handing
    // over the rows already held changes nothing. Does not redisplay.
    void setFileList(const GuideDayRows &rows);
    // Redisplays the list.
    void reloadTable();
    // Sets "fileCount" of every row whose "rawDate" without extension is `date`
    // (YYYYMMDD), then redisplays, whether or not a row matched.
    void setCount(int count, const QString &date);

    // Reads or changes one row's values under the list's guard.
    QVariant value(const GuideDayRowPtr &row, const QString &key) const;
    void updateRow(const GuideDayRowPtr &row, const std::function<void(GuideDayRow &)> &change);

    // DDMMYYYY → YYYYMMDD.
    static QString flipName(const QString &date);

private:
    mutable QMutex mutex_;
    GuideDayRows fileList_;
    DayListView *view_ = nullptr;
    UiQueue ui_{this};
    KeywordController *kwc_ = nullptr;
    TGDPickerController *tgdController_ = nullptr;
    std::function<void(int)> displayPage_;
    QStringList selectedDays_;
};
