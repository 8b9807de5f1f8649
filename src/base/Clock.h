#pragma once

#include <QDate>
#include <QDateTime>
#include <functional>

// The one clock the program reads for "now" and "today": the wall clock, unless a test
// has set its own. Read from any thread; set only while no other thread reads it.
namespace Clock
{
// The current local date and time.
QDateTime now();
// The current local date: which day files are current, which pages are past.
QDate today();
// Replaces the wall clock (an empty function restores it); answers the one it replaced.
std::function<QDateTime()> set(std::function<QDateTime()> now);
} // namespace Clock
