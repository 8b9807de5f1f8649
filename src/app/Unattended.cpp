#include "app/Unattended.h"

#include "app/DesktopNotification.h"

#include <QStringList>
#include <cstdlib>

namespace Unattended
{

QString runner()
{
    return qEnvironmentVariableIsEmpty("PALLARO_DAILY_RUN") ? QStringLiteral("headless")
                                                            : QStringLiteral("timer");
}

RunOutcome outcome(const std::optional<RunOutcome> &fetch, const std::optional<RunOutcome> &upload,
    const QString &by, const std::optional<RunOutcome> &previous, const QDateTime &now)
{
    RunOutcome run;
    run.time = now;
    run.by = by;
    run.ok = (!fetch || fetch->ok) && (!upload || upload->ok);
    QStringList parts;
    auto part = [&parts, &run](const std::optional<RunOutcome> &job, const QString &name) {
        if (job && job->ok == run.ok)
            parts << name + (job->ok ? QStringLiteral(": ") : QStringLiteral(" failed: "))
                    + job->cause;
    };
    part(fetch, QStringLiteral("Fetch"));
    part(upload, QStringLiteral("Upload"));
    run.cause = parts.join(QStringLiteral("; "));
    // Either way round: a clock set back a little must not restart the count.
    if (!run.ok && by == QLatin1String("timer") && previous && !previous->ok
        && previous->by == QLatin1String("timer") && previous->time.isValid()
        && std::abs(previous->time.secsTo(now)) < kTriesWindowSeconds)
        run.attempt = previous->attempt + 1;
    return run;
}

bool tellsDesktop(const RunOutcome &run)
{
    return !run.ok && (run.by != QLatin1String("timer") || run.attempt >= kTries);
}

QString notificationSummary(const RunOutcome &run)
{
    return run.by == QLatin1String("timer")
        ? QStringLiteral("Pallaro: the daily run failed")
        : QStringLiteral("Pallaro: a run without the window failed");
}

QString notificationBody(const RunOutcome &run)
{
    QString body = run.cause;
    if (run.by == QLatin1String("timer") && run.attempt > 1)
        body += QStringLiteral(" (tried %1 times)").arg(run.attempt);
    return body + QStringLiteral(". pallaro --status tells how long the guide lasts.");
}

void finish(const RunOutcome &run, const std::function<void(const QString &)> &report)
{
    QString why;
    if (!RunRecords::write(RunRecords::Job::Unattended, run, &why))
        report(QStringLiteral("The run record could not be written: ") + why);
    if (tellsDesktop(run))
        notifyDesktop(notificationSummary(run), notificationBody(run));
}

} // namespace Unattended
