#pragma once

#include <QDate>
#include <QDateTime>
#include <QStringView>
#include <optional>
#include <string_view>

// An XMLTV time as integers: the instant and the offset of the wall clock it is shown in.
// Conversions keep to these until a QDateTime is really needed.
struct GuideTime {
    qint64 utcSecs = 0; // seconds since the epoch
    int offset = 0; // seconds east of UTC of the wall-clock fields

    qint64 wallSecs() const { return utcSecs + offset; }
    QDate wallDate() const;
    int wallMinuteOfDay() const;
    QDateTime toDateTime() const;
};

// "YYYYMMDDhhmmss +zzzz" or "YYYYMMDDhhmm +zzzz". A time in UTC (or without an offset,
// which XMLTV defines as UTC) is given the local offset of its own instant. Nothing for an
// absent, short or unparsable string; a short one writes "dateString not long enough" to
// the system log, unless `shortCount` is given, which is then counted up instead.
std::optional<GuideTime> parseGuideTime(QStringView text, int *shortCount = nullptr);
// The same for UTF-8 bytes.
std::optional<GuideTime> parseGuideTime(std::string_view utf8, int *shortCount = nullptr);
