#pragma once

#include "support/SydneyTime.h"

#include <QByteArray>
#include <QDateTime>
#include <functional>

// Tests own their clock. While alive, this process's clock (Clock) stands still at `at`,
// local time is `zone`, and every program the test starts (pallaro, the scripts, the
// servers) starts its clock at `at` in that zone, through libfaketime. Restores all of it
// when it goes, so a test may set its own instant inside the suite's.
class FixedClock
{
public:
    explicit FixedClock(const QDateTime &at, const char *zone = "Australia/Sydney");
    ~FixedClock();
    FixedClock(const FixedClock &) = delete;
    FixedClock &operator=(const FixedClock &) = delete;

    // The instant every test lives at unless it sets its own: a Monday evening in Sydney,
    // with a week of guide ahead.
    static QDateTime suiteInstant();

private:
    LocalZone zone_;
    std::function<QDateTime()> old_;
    QByteArray oldPreload_, oldFakeTime_, oldAsan_;
};
