#include "guide/TGDFormat.h"

#include <algorithm>
#include <cstdlib>

namespace tgd {

QString cleanField(const QString &field)
{
    QString out = field;
    for (QChar &c : out)
        if (c == QLatin1Char('\t') || c == QLatin1Char('\r') || c == QLatin1Char('\n'))
            c = QLatin1Char(' ');
    return out;
}

QByteArray encodeLine(const QStringList &fields, bool crlf)
{
    qsizetype size = 2;
    for (const QString &f : fields)
        size += f.size() + 1;
    QByteArray bytes;
    bytes.reserve(size);
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (i)
            bytes += '\t';
        appendField(bytes, fields.at(i));
    }
    bytes += crlf ? "\r\n" : "\n";
    return bytes;
}

namespace {
char cleaned(char16_t c)
{
    if (c == '\t' || c == '\r' || c == '\n')
        return ' ';
    return c > 0xFF ? '?' : char(c);
}
} // namespace

void appendField(QByteArray &line, QStringView field)
{
    const qsizetype at = line.size();
    line.resize(at + field.size());
    char *out = line.data() + at;
    for (const QChar c : field)
        *out++ = cleaned(c.unicode());
}

void appendUtf8Field(QByteArray &line, std::string_view utf8)
{
    const qsizetype at = line.size();
    // Never longer than the UTF-8 bytes: every character takes at least as many bytes.
    line.resize(at + qsizetype(utf8.size()));
    char *const begin = line.data() + at;
    char *out = begin;
    const auto *p = reinterpret_cast<const unsigned char *>(utf8.data());
    const auto *end = p + utf8.size();
    while (p < end) {
        const unsigned char b = *p;
        if (b < 0x80) {
            *out++ = cleaned(b);
            ++p;
        } else if (b < 0xE0 && p + 1 < end) {
            *out++ = cleaned(char16_t(((b & 0x1F) << 6) | (p[1] & 0x3F)));
            p += 2;
        } else if (b < 0xF0) {
            *out++ = '?';
            p += 3;
        } else {
            // Outside the BMP: a surrogate pair, two characters that cannot be held.
            *out++ = '?';
            *out++ = '?';
            p += 4;
        }
    }
    line.resize(at + (out - begin));
}

namespace {
QString signedTwoDigits(bool negativeSign, int magnitude)
{
    magnitude = std::min(std::abs(magnitude), 99);
    QString s = negativeSign ? QStringLiteral("-") : QStringLiteral("+");
    if (magnitude < 10)
        s += QLatin1Char('0');
    return s + QString::number(magnitude);
}
} // namespace

QString formatRecordStringForListing(std::optional<int> extStart, std::optional<int> extStop)
{
    if (!extStart || !extStop || (*extStart == 0 && *extStop == 0))
        return QStringLiteral("Y");
    // A start extension of 0 or more moves the start earlier, written with "-".
    return signedTwoDigits(*extStart >= 0, *extStart) + QLatin1Char(' ')
           + signedTwoDigits(*extStop < 0, *extStop);
}

int leadingInt(const QString &text)
{
    qsizetype i = 0;
    while (i < text.size() && text.at(i).isSpace())
        ++i;
    bool negative = false;
    if (i < text.size() && (text.at(i) == QLatin1Char('+') || text.at(i) == QLatin1Char('-'))) {
        negative = text.at(i) == QLatin1Char('-');
        ++i;
    }
    long long value = 0;
    for (; i < text.size() && text.at(i).isDigit() && text.at(i).unicode() < 128; ++i) {
        value = value * 10 + (text.at(i).unicode() - '0');
        if (value > 2147483647LL)
            value = 2147483647LL;
    }
    return int(negative ? -value : value);
}

namespace {
// Sign, two digits, space, sign, two digits.
bool isExtensionForm(const QString &f)
{
    auto sign = [&](int i) { return f.at(i) == QLatin1Char('+') || f.at(i) == QLatin1Char('-'); };
    auto digit = [&](int i) { return f.at(i) >= QLatin1Char('0') && f.at(i) <= QLatin1Char('9'); };
    return f.size() == 7 && sign(0) && digit(1) && digit(2) && f.at(3) == QLatin1Char(' ')
        && sign(4) && digit(5) && digit(6);
}
} // namespace

RecordField decodeRecordField(const QString &field)
{
    RecordField r;
    if (field == QLatin1String("Y")) {
        r.record = true;
        return r;
    }
    // Anything but the marking forms (an empty field, a stray byte) leaves a programme
    // unmarked, so a damaged line is never written back as a recording.
    if (!isExtensionForm(field))
        return r;
    r.record = true;
    const int start = leadingInt(field.mid(1, 2));
    const int stop = leadingInt(field.mid(5, 2));
    r.extStart = field.at(0) == QLatin1Char('+') ? -start : start;
    r.extStop = field.at(4) == QLatin1Char('+') ? stop : -stop;
    return r;
}

} // namespace tgd
