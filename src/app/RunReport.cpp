#include "app/RunReport.h"

#include "app/AutoRun.h"
#include "app/CommandLine.h"
#include "base/Clock.h"
#include "base/Paths.h"
#include "base/Settings.h"

#include <QDir>
#include <QTextStream>

namespace RunReport
{

std::optional<GuideSpan> guideOnDisk(const QString &outputFolder, const QDate &today)
{
    std::optional<GuideSpan> span;
    const QStringList names
        = QDir(outputFolder)
              .entryList({ QStringLiteral("*.tgd") }, QDir::Files | QDir::Readable, QDir::Name);
    for (const QString &name : names) {
        const QDate day = QDate::fromString(name.left(8), QStringLiteral("yyyyMMdd"));
        if (name.size() != 12 || !day.isValid() || day < today)
            continue;
        if (!span)
            span = GuideSpan { day, day };
        span->first = std::min(span->first, day);
        span->last = std::max(span->last, day);
    }
    return span;
}

QString guideWarning(const std::optional<GuideSpan> &guide, const QDate &today)
{
    if (!guide)
        return QStringLiteral("There is no guide for today or later: fetch it.");
    if (guide->last >= today.addDays(kDaysAhead))
        return {};
    return QStringLiteral("The guide ends on %1: fetch soon, or the recorder runs out of it.")
        .arg(guide->last.toString(Qt::ISODate));
}

QString outcomeLine(const RunOutcome &o, bool withRunner)
{
    const QString by = o.by == QLatin1String("timer") ? QStringLiteral("daily run")
        : o.by == QLatin1String("window")             ? QStringLiteral("window")
                                                      : QStringLiteral("without the window");
    return o.time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm"))
        + (withRunner ? QStringLiteral(" (") + by + QLatin1Char(')') : QString())
        + QStringLiteral(": ") + (o.ok ? QStringLiteral("succeeded") : QStringLiteral("failed"))
        + (o.cause.isEmpty() ? QString() : QStringLiteral(": ") + o.cause);
}

Notes startupNotes(const QDate &today)
{
    Notes notes;
    if (const std::optional<RunOutcome> run = RunRecords::read(RunRecords::Job::Unattended)) {
        const bool daily = run->by == QLatin1String("timer");
        QString line = (daily ? QStringLiteral("The daily run of ")
                              : QStringLiteral("The run without the window of "))
            + run->time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm"))
            + (run->ok ? QStringLiteral(" succeeded") : QStringLiteral(" failed"));
        if (daily && !run->ok && run->attempt > 1)
            line += QStringLiteral(" after %1 tries").arg(run->attempt);
        notes.lines << line + QStringLiteral(". ") + run->cause;
        notes.alarming = !run->ok;
    }
    const std::optional<GuideSpan> guide = guideOnDisk(Paths::outputFolder(), today);
    const QString defaultHost
        = Settings::definition(QStringLiteral("providerHost"))->defaultValue.toString();
    if (!guide && !Settings::usesScriptFetch()
        && Settings::string(QStringLiteral("providerHost")) == defaultHost) {
        notes.lines << QStringLiteral("No guide yet. Choose your region and enter the guide "
                                      "provider's host in Preferences, then press Fetch.");
        notes.needsSetup = true;
        return notes;
    }
    const QString warning = guideWarning(guide, today);
    if (!warning.isEmpty()) {
        notes.lines << warning;
        notes.alarming = true;
    }
    return notes;
}

} // namespace RunReport

int runStatusCommand(QTextStream &out, QTextStream &err)
{
    Settings::registerDefaults();
    const QDate today = Clock::today();
    const std::optional<RunReport::GuideSpan> guide
        = RunReport::guideOnDisk(Paths::outputFolder(), today);
    if (guide)
        out << "Guide: " << guide->first.toString(Qt::ISODate) << " to "
            << guide->last.toString(Qt::ISODate) << " (" << guide->first.daysTo(guide->last) + 1
            << " days)\n";
    else
        out << "Guide: none for today or later\n";

    bool damaged = false;
    std::optional<RunOutcome> latest;
    for (const RunRecords::Job job : { RunRecords::Job::Fetch, RunRecords::Job::Upload }) {
        QString why;
        const std::optional<RunOutcome> o = RunRecords::read(job, &why);
        out << (job == RunRecords::Job::Fetch ? "Last fetch: " : "Last upload: ")
            << (o                      ? RunReport::outcomeLine(*o)
                       : why.isEmpty() ? QStringLiteral("none recorded")
                                       : QStringLiteral("unknown"))
            << "\n";
        if (!why.isEmpty()) {
            err << "pallaro: " << why << "\n";
            damaged = true;
        }
        if (o && (!latest || o->time >= latest->time))
            latest = o;
    }

    out << "Daily run: ";
    if (Settings::boolean(QStringLiteral("autoRun"))) {
        out << "on at "
            << Settings::date(QStringLiteral("autoRunTime"))
                   .toLocalTime()
                   .toString(QStringLiteral("HH:mm"));
        const QString next = SystemdAutoRun::nextRun();
        if (!next.isEmpty())
            out << ", next " << next;
        out << "\n";
    } else {
        out << "off\n";
    }
    const QString warning = RunReport::guideWarning(guide, today);
    if (!warning.isEmpty())
        out << "Warning: " << warning << "\n";
    out.flush();
    err.flush();
    if (damaged)
        return 2;
    return latest && latest->ok && warning.isEmpty() ? 0 : 1;
}
