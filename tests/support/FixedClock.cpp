#include "support/FixedClock.h"

#include "base/Clock.h"

#include <QTimeZone>

FixedClock::FixedClock(const QDateTime &at, const char *zone)
    : zone_(zone)
{
    const QDateTime instant = at.toUTC();
    old_ = Clock::set([instant] { return instant; });
}

FixedClock::~FixedClock()
{
    Clock::set(std::move(old_));
}

QDateTime FixedClock::suiteInstant()
{
    return QDateTime(QDate(2026, 12, 7), QTime(19, 10), QTimeZone("Australia/Sydney"));
}

QStringList fixedClockEnvironment()
{
    // "@" starts the program's clock at the instant, read in its local zone (TZ, inherited),
    // and lets it run. Sanitized programs accept the preload ahead of their runtime.
    const QString preload = qEnvironmentVariable("LD_PRELOAD");
    const QString asan = qEnvironmentVariable("ASAN_OPTIONS");
    return {
        "LD_PRELOAD="
            + (preload.contains("/libfaketime")
                    ? preload
                    : QStringLiteral(PALLARO_FAKETIME_LIBRARY " ") + preload),
        "FAKETIME=@" + Clock::now().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
        "ASAN_OPTIONS=" + (asan.isEmpty() ? QString() : asan + ":") + "verify_asan_link_order=0",
    };
}

void useFixedClock(QProcess &process, const QStringList &extra)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString &assignment : fixedClockEnvironment() + extra) {
        const qsizetype eq = assignment.indexOf('=');
        env.insert(assignment.left(eq), assignment.mid(eq + 1));
    }
    process.setProcessEnvironment(env);
}
