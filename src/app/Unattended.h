#pragma once

#include "app/RunRecords.h"

#include <QDateTime>
#include <QString>
#include <functional>
#include <optional>

// A run without a window: its record, and the desktop told when it failed.
namespace Unattended
{
// The daily run's service restarts a failed run kRetrySeconds later, until kTries runs
// have failed within kTriesWindowSeconds; the unit's settings come from these.
inline constexpr int kTries = 4;
inline constexpr int kRetrySeconds = 600;
inline constexpr int kTriesWindowSeconds = 6 * 3600;

// "timer" under the daily run's service (which sets PALLARO_DAILY_RUN), else "headless".
QString runner();

// The record of a windowless run from the outcomes of the jobs it ran (a job not asked for
// is absent). The daily run counts its tries on from `previous`, the record before it,
// when that was a failed try of the same day's run.
RunOutcome outcome(const std::optional<RunOutcome> &fetch, const std::optional<RunOutcome> &upload,
    const QString &by, const std::optional<RunOutcome> &previous, const QDateTime &now);

// A failed run tells the desktop; the daily run only after its last try.
bool tellsDesktop(const RunOutcome &run);
QString notificationSummary(const RunOutcome &run);
QString notificationBody(const RunOutcome &run);

// Writes the record and tells the desktop when it should. `report` gets a line for what
// could not be done.
void finish(const RunOutcome &run, const std::function<void(const QString &)> &report);
} // namespace Unattended
