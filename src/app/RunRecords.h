#pragma once

#include <QDateTime>
#include <QString>
#include <optional>

// What became of one fetch or upload, kept in the data folder so that a run nobody watched
// can be told of afterwards (pallaro --status, the window at its start).
struct RunOutcome {
    QDateTime time;
    bool ok = false;
    QString cause; // one line: what was done, or why it failed
    QString by; // "window", "headless" or "timer" (the daily run)
    int attempt = 1; // the daily run's tries so far, the retries of systemd included
};

namespace RunRecords
{
enum class Job { Fetch, Upload, Unattended };

// The record's file in the ApplicationSupportFolder: "LastFetch.json", "LastUpload.json",
// "LastUnattendedRun.json" (the last windowless run, both its jobs in one outcome).
QString path(Job job);

// Replaces the record whole and atomically; answers success, `why` on failure.
bool write(Job job, const RunOutcome &outcome, QString *why = nullptr);
// Nothing when nothing was recorded, or when the file is unreadable or damaged (then
// `why` says so; it stays empty for a record that was never written).
std::optional<RunOutcome> read(Job job, QString *why = nullptr);

QByteArray toJson(const RunOutcome &outcome);
std::optional<RunOutcome> fromJson(const QByteArray &json, QString *why = nullptr);

// The first line of `text` with its blanks trimmed and control characters dropped: what a
// record, a notification or a terminal can show.
QString causeLine(const QString &text);
} // namespace RunRecords
