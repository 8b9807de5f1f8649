#include "guide/GuideTime.h"

#include "base/SystemLog.h"

#include <QString>
#include <QTime>

namespace
{

constexpr qint64 kUnixEpochJulianDay = 2440588;

qint64 floorDiv(qint64 a, qint64 b)
{
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

template<typename Text> bool readDigits(const Text &s, qsizetype at, int count, int &value)
{
    value = 0;
    for (int i = 0; i < count; ++i) {
        const auto c = s[at + i];
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + int(c - '0');
    }
    return true;
}

void countShort(int *shortCount)
{
    if (shortCount)
        ++*shortCount;
    else
        systemLog(QStringLiteral("dateString not long enough"));
}

// `length` is the text's length in UTF-16 units, which is what "long enough" is about.
template<typename Text>
std::optional<GuideTime> parse(const Text &s, qsizetype size, qsizetype length, int *shortCount)
{
    if (length <= 11) {
        countShort(shortCount);
        return std::nullopt;
    }
    qsizetype digits = 0;
    while (digits < size && s[digits] >= '0' && s[digits] <= '9')
        ++digits;
    if (digits != 14 && digits != 12)
        return std::nullopt;
    int y, mo, d, h, mi, sec = 0;
    readDigits(s, 0, 4, y);
    readDigits(s, 4, 2, mo);
    readDigits(s, 6, 2, d);
    readDigits(s, 8, 2, h);
    readDigits(s, 10, 2, mi);
    if (digits == 14)
        readDigits(s, 12, 2, sec);
    const QDate date(y, mo, d);
    if (!date.isValid() || h > 23 || mi > 59 || sec > 59)
        return std::nullopt;

    int offset = 0;
    const qsizetype rest = size - digits;
    if (rest == 6) {
        const auto sign = s[digits + 1];
        int oh, om;
        if (s[digits] != ' ' || (sign != '+' && sign != '-') || !readDigits(s, digits + 2, 2, oh)
            || !readDigits(s, digits + 4, 2, om) || oh > 14 || om > 59)
            return std::nullopt;
        offset = (oh * 3600 + om * 60) * (sign == '-' ? -1 : 1);
    } else if (rest != 0) {
        return std::nullopt;
    }
    GuideTime t;
    const qint64 wall
        = (date.toJulianDay() - kUnixEpochJulianDay) * 86400 + h * 3600 + mi * 60 + sec;
    t.utcSecs = wall - offset;
    if (offset != 0) {
        t.offset = offset;
        return t;
    }
    // UTC: shown in the local wall-clock time of this very instant, so a guide crossing a
    // daylight-saving change keeps true times.
    t.offset = QDateTime::fromSecsSinceEpoch(t.utcSecs, Qt::UTC).toLocalTime().offsetFromUtc();
    return t;
}

} // namespace

QDate GuideTime::wallDate() const
{
    return QDate::fromJulianDay(floorDiv(wallSecs(), 86400) + kUnixEpochJulianDay);
}

int GuideTime::wallMinuteOfDay() const
{
    return int((wallSecs() - floorDiv(wallSecs(), 86400) * 86400) / 60);
}

QDateTime GuideTime::toDateTime() const
{
    return QDateTime::fromSecsSinceEpoch(utcSecs, Qt::OffsetFromUTC, offset);
}

std::optional<GuideTime> parseGuideTime(QStringView text, int *shortCount)
{
    const char16_t *s = text.utf16();
    return parse(s, text.size(), text.size(), shortCount);
}

std::optional<GuideTime> parseGuideTime(std::string_view utf8, int *shortCount)
{
    qsizetype length = 0;
    for (unsigned char c : utf8)
        // Every byte but a continuation byte starts a character; four-byte ones take two units.
        length += (c & 0xC0) != 0x80 ? (c >= 0xF0 ? 2 : 1) : 0;
    return parse(utf8.data(), qsizetype(utf8.size()), length, shortCount);
}
