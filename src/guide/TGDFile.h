#pragma once

#include "guide/TGDEntry.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QString>
#include <optional>

// A working list of programmes with the TGD day-file reader and re-writer.
//
// Not thread-safe: one owner at a time (the keyword reload cycle keeps its own).
class TGDFile
{
public:
    // The working list itself (the records are shared, the vector is the list's own).
    const TGDEntryList &getFileData() const { return fileData_; }
    // Replaces the working list by the given records; does not derive anything.
    void setFileList(TGDEntryList list) { fileData_ = std::move(list); }

    // Reads one day file's bytes (ISO 8859-1, lines ended by LF or CR LF) into the working
    // list: a fresh list when retainOld is false, appended otherwise. Every line with more
    // than seven TAB-separated fields, a "%Y-%m-%d %H:%M" start and a title becomes one
    // programme from its first eight fields, with "fileNameDataIsFrom" = day. Derives the display fields of the new programmes and
    // resets the record state of the kept ones from "recordStatus". Answers how many
    // programmes these bytes gave.
    int loadTGDData(const QByteArray &bytes, const QString &day, bool retainOld);

    // The day file content for the programmes of `day` ("fileNameDataIsFrom"), or of every
    // programme when no day is given, in list order: eight fields per line, CR LF, ISO 8859-1.
    QByteArray dataToTGDForDate(const std::optional<QString> &day) const;

    // Derives the display fields of every programme of the working list.
    void fixData();

    // The byte content for these programmes, in their order (the re-writer's body).
    static QByteArray dataToTGD(const TGDEntryList &entries);
    // Parses the lines of one day file, skipping those that are no programme; no derivation.
    static TGDEntryList parse(const QByteArray &bytes, const QString &day);

    // The derivation for one programme. An unparsable "rawStart" leaves "start", "stop"
    // invalid and "startTime" empty; a "subAndCat" without "[" gives an empty "cat".
    // ukProvider: a channel missing from the display-name table is shown in green.
    static void fixEntry(TGDEntry &entry, bool ukProvider);
    // The same, with parsed starts remembered by their text across calls.
    using StartCache = QHash<QString, QDateTime>;
    static void fixEntry(TGDEntry &entry, bool ukProvider, StartCache &cache);
    // The record state only: "record", and "extStart"/"extStop" for the seven-character form.
    static void applyRecordStatus(TGDEntry &entry);
    // The display-name part only: "dispChannel", its colour and "dispChannelString".
    static void applyChannel(TGDEntry &entry, bool ukProvider);
    // The name the table shows for a channel key (the key itself when it has none).
    static QString displayName(const QString &channelKey);

private:
    TGDEntryList fileData_;
};
