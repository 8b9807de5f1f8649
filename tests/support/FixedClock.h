#pragma once

#include "support/SydneyTime.h"

#include <QDateTime>
#include <QProcess>
#include <QStringList>
#include <functional>

// Tests own their clock. While alive, this process's clock (Clock) stands still at `at` and
// local time is `zone`; restores both when it goes, so a test may set its own instant
// inside the suite's.
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
};

// The environment additions ("NAME=value") that start a program's clock at this
// process's Clock, in its local zone, through libfaketime: for the programs a test starts
// itself. This process's own environment is left alone: under the faketime command its
// libfaketime re-reads it, and its clock would jump.
QStringList fixedClockEnvironment();
// The same, set on a process about to start on top of this process's environment, with
// `extra` ("NAME=value") last.
void useFixedClock(QProcess &process, const QStringList &extra = {});
