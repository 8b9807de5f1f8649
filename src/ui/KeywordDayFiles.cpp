#include "ui/KeywordController.h"

#include "base/DataFolderLock.h"
#include "base/FolderWalk.h"
#include "base/Paths.h"
#include "base/StatusLog.h"
#include "base/SystemLog.h"
#include "base/WholeFile.h"
#include "guide/TGDFile.h"
#include "guide/TGDFormat.h"
#include "ui/SourceListController.h"
#include "ui/TGDPickerController.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <numeric>

// The day files: reading them into the full list, sorting it, and writing the record marks
// back. All of it runs in the exclusive section.

void KeywordController::report(const QString &line)
{
    if (log_)
        log_->printStatus(line + QLatin1Char('\n'));
    else
        systemLog(line);
}

bool KeywordController::loadInData()
{
    beginExclusive();
    const bool ok = loadInDataLocked();
    sortDataLocked();
    endExclusive();
    return ok;
}

bool KeywordController::loadInDataLocked()
{
    const QString folder = outputPath();
    const int today = today_().toString(QStringLiteral("yyyyMMdd")).toInt();
    TGDFile reader;
    bool first = true;
    bool ok = true;
    loadedDays_.clear();
    for (const QString &relative : walkSorted(folder)) {
        const QString name = relative.section(QLatin1Char('/'), -1);
        const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
        if (dot < 0 || name.mid(dot + 1) != QLatin1String("tgd"))
            continue;
        const QString day = name.left(dot);
        if (today - tgd::leadingInt(day) > 2)
            continue;
        QFile file(folder + QLatin1Char('/') + relative);
        int count = 0;
        if (QFileInfo(file.fileName()).isFile() && file.open(QIODevice::ReadOnly)) {
            const QByteArray bytes = file.readAll();
            count = reader.loadTGDData(bytes, day, !first);
            first = false;
            // Writing back a file without one programme line would empty it: what the
            // reader could not understand is left as it is.
            if (count > 0 || bytes.isEmpty())
                loadedDays_.insert(day, qHash(bytes));
            else
                report(relative + QStringLiteral(" holds no programme line; left as it is."));
            if (table_) {
                table_->endSearch();
                table_->reloadTable();
            }
        } else {
            systemLog(QStringLiteral("cannot read ") + relative);
            ok = false;
        }
        if (slc_)
            slc_->setCount(count, day);
    }
    // With no day file at all the list is empty, not whatever the table showed last.
    {
        QMutexLocker lock(&listMutex_);
        all_ = reader.getFileData();
    }
    ++generation_;
    folded_.clear();
    return ok;
}

void KeywordController::sortData()
{
    beginExclusive();
    sortDataLocked();
    endExclusive();
}

void KeywordController::sortDataLocked()
{
    TGDEntryList sorted = all_;
    sortByChannelAndStart(sorted);
    {
        QMutexLocker lock(&listMutex_);
        all_ = std::move(sorted);
    }
    ++generation_;
    folded_.clear();
}

void KeywordController::sortByChannelAndStart(TGDEntryList &list)
{
    struct Key {
        const QString *channel;
        qint64 start; // invalid start sorts first
    };
    std::vector<Key> keys(list.size());
    for (size_t i = 0; i < list.size(); ++i)
        keys[i] = { &list[i]->channel,
            list[i]->start.isValid() ? list[i]->start.toMSecsSinceEpoch()
                                     : std::numeric_limits<qint64>::min() };
    std::vector<size_t> order(list.size());
    std::iota(order.begin(), order.end(), size_t(0));
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        const int c = keys[a].channel->compare(*keys[b].channel);
        if (c != 0)
            return c < 0;
        return keys[a].start < keys[b].start;
    });
    TGDEntryList sorted;
    sorted.reserve(list.size());
    for (size_t i : order)
        sorted.push_back(list[i]);
    list = std::move(sorted);
}

void KeywordController::writeOutData()
{
    writeOutDataChecked();
}

bool KeywordController::writeOutDataChecked()
{
    DataFolderLock lock;
    beginExclusive();
    // Everything in memory reaches the disk here, the rule file and the hand decisions
    // included: the upload and the exit call this.
    bool ok = storeLocked();
    ok = writeOutDataLocked() && ok;
    endExclusive();
    return ok;
}

bool KeywordController::writeOutDataLocked(const QSet<QString> *only)
{
    if (table_) {
        table_->setFileList(all_);
        ui_.run([this] { Q_EMIT tableListReplaced(); });
    }
    if (!slc_)
        return true;
    QHash<QString, TGDEntryList> byDay;
    for (const TGDEntryPtr &e : all_)
        byDay[e->fileNameDataIsFrom].push_back(e);
    if (!only)
        dirtyDays_.clear();
    const QString folder = outputPath();
    bool ok = true;
    for (const GuideDayRowPtr &row : slc_->fileList()) {
        const QVariant date = slc_->value(row, QStringLiteral("date"));
        if (!date.isValid())
            continue;
        const QString day = flipName(date.toString());
        // Only days read by the last load: before the first load, or for a file written
        // since, there is nothing in memory that could replace the file's content.
        if (!loadedDays_.contains(day) || (only && !only->contains(day)))
            continue;
        const QString path = folder + QLatin1Char('/') + day + QStringLiteral(".tgd");
        QFile current(path);
        if (!QFileInfo(path).isFile() || !current.open(QIODevice::ReadOnly))
            continue;
        // Another program (a fetch, a conversion) wrote the day since it was read: what
        // this program holds of it is out of date; the writer thread reads it again.
        if (qHash(current.readAll()) != loadedDays_.value(day)) {
            report(QStringLiteral("%1.tgd was replaced by another Pallaro program: left as it "
                                  "is, and read again.")
                       .arg(day));
            staleDays_ = true;
            continue;
        }
        current.close();
        // An unchanged day is not rewritten: the write at exit after a cycle is then free.
        QString why;
        const QByteArray bytes = TGDFile::dataToTGD(byDay.value(day));
        if (writeChangedFile(path, bytes, &why)) {
            loadedDays_[day] = qHash(bytes);
        } else {
            report(QStringLiteral("The marks of %1 could not be written: %2").arg(day, why));
            ok = false;
        }
    }
    return ok;
}

QString KeywordController::flipName(const QString &date)
{
    return SourceListController::flipName(date);
}
