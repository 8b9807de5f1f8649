#include "app/EPGController.h"
#include "base/Clock.h"
#include "base/DataFolderLock.h"
#include "base/FolderWalk.h"
#include "base/Paths.h"
#include "base/SystemLog.h"
#include "guide/TGDFormat.h"
#include "ui/SourceListController.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>

namespace {

void removeEntry(const QString &path)
{
    const QFileInfo info(path);
    if (info.isDir() && !info.isSymLink())
        QDir(path).removeRecursively();
    else
        QFile::remove(path);
}

void emptyFolder(const QString &folder, const QStringList &keep = {})
{
    for (const QString &relative : walkSorted(folder))
        if (!keep.contains(relative))
            removeEntry(folder + QLatin1Char('/') + relative);
}

} // namespace

QString EPGController::unFlipDate(const QString &rawDate)
{
    return rawDate.mid(6, 2) + rawDate.mid(4, 2) + rawDate.mid(0, 4);
}

QString EPGController::fileNameFromDateString(const QString &date)
{
    return date.mid(4, 4) + QStringLiteral(" - ") + date.mid(2, 2) + QStringLiteral(" - ")
           + date.mid(0, 2);
}

void EPGController::removeInterruptedWrites()
{
    // writeWholeFile and the grid command write "NAME.XXXXXX" (six letters or digits), the
    // script converter ".dat2tgd-XXXXXX", and rename it over NAME; a kill before the rename
    // leaves it for good, as it leaves the fetch's folder ".unpacked-XXXXXX". Only what is
    // written here counts: the day files, their XMLTV companions and grid pages, and the
    // archive.
    static const QRegularExpression leftoverFile(
        QStringLiteral("^(([0-9]{8}\\.(tgd|xml|html)|kR\\.zip)\\.|\\.dat2tgd-)[A-Za-z0-9]{6}$"));
    static const QRegularExpression leftoverFolder(QStringLiteral("^\\.unpacked-[A-Za-z0-9]{6}$"));
    // One being written keeps a fresh time: it may belong to another instance at work.
    constexpr qint64 settledSeconds = 10 * 60;
    const QDateTime now = Clock::now();
    const QDir output(Paths::outputFolder());
    for (const QFileInfo &info :
        output.entryInfoList(QDir::Files | QDir::Dirs | QDir::Hidden | QDir::NoSymLinks)) {
        const QRegularExpression &leftover = info.isDir() ? leftoverFolder : leftoverFile;
        if (!leftover.match(info.fileName()).hasMatch()
            || info.lastModified().secsTo(now) < settledSeconds)
            continue;
        systemLog(QStringLiteral("Removing an interrupted write: ") + info.fileName());
        removeEntry(info.filePath());
    }
}

void EPGController::loadExistingTGDs()
{
    loadExistingTGDs(Clock::today());
}

void EPGController::loadExistingTGDs(const QDate &today)
{
    const QString output = Paths::outputFolder();
    const int todayNumber = today.toString(QStringLiteral("yyyyMMdd")).toInt();

    GuideDayRows rows;
    for (const QString &relative : walkSorted(output)) {
        if (extensionOf(relative) != QLatin1String("tgd"))
            continue;
        const QString base = withoutExtension(relative);
        if (todayNumber - tgd::leadingInt(base) <= 0) {
            auto row = std::make_shared<GuideDayRow>();
            row->rawDate = relative;
            row->date = unFlipDate(relative);
            row->file = fileNameFromDateString(*row->date);
            row->downloaded = 100.0f;
            rows.push_back(row);
        } else {
            QFile::remove(output + QLatin1Char('/') + relative);
            QFile::remove(output + QLatin1Char('/') + base + QStringLiteral(".html"));
            QFile::remove(output + QLatin1Char('/') + base + QStringLiteral(".xml"));
        }
    }

    if (!slc_)
        return;
    for (const GuideDayRowPtr &old : slc_->fileList()) {
        const QVariant oldDate = slc_->value(old, QStringLiteral("date"));
        if (!oldDate.isValid())
            continue;
        const int oldCount = slc_->value(old, QStringLiteral("fileCount")).toInt();
        for (const GuideDayRowPtr &row : rows)
            if (*row->date == oldDate.toString())
                row->fileCount = oldCount;
    }
    slc_->setFileList(rows);
    slc_->reloadTable();
}

void EPGController::deleteCache()
{
    systemLog(QStringLiteral("deleteCache"));
    DataFolderLock writing;
    emptyFolder(Paths::outputFolder(), {QStringLiteral("popup.js"), QStringLiteral("xmltv2html.css"),
                                        QStringLiteral("xmltv2htmlrc")});
    const QString support = Paths::applicationSupportFolder();
    emptyFolder(support + QStringLiteral("/cache"));
    emptyFolder(support + QStringLiteral("/database"));
    if (kwc_)
        kwc_->reloadData(QStringLiteral("NoSave"));
    if (slc_) {
        slc_->setFileList({});
        slc_->reloadTable();
    }
}
