#pragma once

#include "app/RunRecords.h"

#include <QDate>
#include <QString>
#include <QStringList>
#include <optional>

// How the guide and the runs stand, for pallaro --status and the window at its start.
namespace RunReport
{
// The first and last day of the guide on disk: the day files of `today` and after.
struct GuideSpan {
    QDate first, last;
};
std::optional<GuideSpan> guideOnDisk(const QString &outputFolder, const QDate &today);

// Days the guide must reach beyond today for the daily run to be in no hurry.
inline constexpr int kDaysAhead = 2;
// The warning line when the guide ends within kDaysAhead days of `today` (or there is
// none); empty when it reaches further.
QString guideWarning(const std::optional<GuideSpan> &guide, const QDate &today);

// "2026-12-07 06:05 (daily run): failed: cause", the time in local time; without the
// part in brackets unless `withRunner`.
QString outcomeLine(const RunOutcome &outcome, bool withRunner = true);

// What the window says when it starts: the last windowless run's outcome and the guide
// warning, each a line (nothing to say, no lines); alarming when a run failed or the guide
// runs out soon. With no guide and the provider still unset, the guide warning gives way
// to what to do first, and `needsSetup` asks for a way to the preferences.
struct Notes {
    QStringList lines;
    bool alarming = false;
    bool needsSetup = false;
};
Notes startupNotes(const QDate &today);
} // namespace RunReport
