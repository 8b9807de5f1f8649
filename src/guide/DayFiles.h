#pragma once

#include "base/WholeFile.h"
#include "guide/XMLToEPG.h"

#include <QByteArray>
#include <QDate>
#include <QString>
#include <cstdio>

// The writers' shared parts: the day a programme's file is named by, and the files.

// YYYYMMDD.
inline QByteArray dayKey(const QDate &d)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d", d.year(), d.month(), d.day());
    return QByteArray(buf);
}

// Builds one day file at a time, in list order, and writes each whole when its day ends.
// The list is sorted by start, so every day's programmes come together. The files take
// their places together at commit(): when one could not be written, none replaces its old
// file, so a folder never holds days of two guides for want of room.
class DayFiles
{
public:
    DayFiles(QString folder, const char *extension, ExportResult &result, QByteArray trailer = {})
        : folder_(std::move(folder))
        , extension_(QString::fromLatin1(extension))
        , trailer_(std::move(trailer))
        , result_(result)
    {
    }

    // Moves on to `day`, writing the file of the day before; answers true when a new day began.
    bool beginDay(const QByteArray &day)
    {
        if (day == day_)
            return false;
        endDay();
        day_ = day;
        return true;
    }
    QByteArray &content() { return content_; }
    void countProgramme() { ++inFile_; }

    // Writes the open day's file and puts every file in place, or, after a failed write,
    // none (the result then counts no files and names the failure).
    void commit()
    {
        endDay();
        if (result_.error.isEmpty() && files_.commit(&result_.error)) {
            result_.files = staged_;
            result_.programmes += programmes_;
        }
    }

private:
    void endDay()
    {
        if (day_.isEmpty())
            return;
        content_ += trailer_;
        // After the first failure nothing more is written: the set goes in whole or not at all.
        if (result_.error.isEmpty()
            && files_.add(folder_ + QLatin1Char('/') + QString::fromLatin1(day_) + extension_,
                content_, &result_.error)) {
            ++staged_;
            programmes_ += inFile_;
        }
        day_.clear();
        content_.clear();
        inFile_ = 0;
    }

    QString folder_;
    QString extension_;
    QByteArray trailer_;
    ExportResult &result_;
    WholeFileSet files_;
    QByteArray day_;
    QByteArray content_;
    int inFile_ = 0;
    int staged_ = 0;
    int programmes_ = 0;
};
