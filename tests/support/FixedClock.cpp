#include "support/FixedClock.h"

#include "base/Clock.h"

#include <QTimeZone>

namespace
{

void restore(const char *name, const QByteArray &old)
{
    if (old.isNull())
        qunsetenv(name);
    else
        qputenv(name, old);
}

} // namespace

FixedClock::FixedClock(const QDateTime &at, const char *zone)
    : zone_(zone)
    , oldPreload_(qgetenv("LD_PRELOAD"))
    , oldFakeTime_(qgetenv("FAKETIME"))
    , oldAsan_(qgetenv("ASAN_OPTIONS"))
{
    const QDateTime instant = at.toUTC();
    old_ = Clock::set([instant] { return instant; });

    // Children: libfaketime's "@" starts each program's clock at the instant, read in its
    // local zone (TZ, inherited), and lets it run. Sanitized children accept a preload
    // ahead of their runtime.
    const QByteArray library = PALLARO_FAKETIME_LIBRARY;
    if (!oldPreload_.contains("/libfaketime")) // the faketime command may have put it there
        qputenv("LD_PRELOAD", oldPreload_.isEmpty() ? library : library + ' ' + oldPreload_);
    qputenv("FAKETIME",
        "@" + at.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toUtf8());
    qputenv("ASAN_OPTIONS",
        oldAsan_.isEmpty() ? QByteArray("verify_asan_link_order=0")
                           : oldAsan_ + ":verify_asan_link_order=0");
}

FixedClock::~FixedClock()
{
    Clock::set(std::move(old_));
    restore("LD_PRELOAD", oldPreload_);
    restore("FAKETIME", oldFakeTime_);
    restore("ASAN_OPTIONS", oldAsan_);
}

QDateTime FixedClock::suiteInstant()
{
    return QDateTime(QDate(2026, 12, 7), QTime(19, 10), QTimeZone("Australia/Sydney"));
}
