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

// Characters ISO 8859-1 lacks, and what a reader of the day file should see instead: no
// stand-in is longer than the character's UTF-8 form, so the UTF-8 path never grows.
struct StandIn {
    char32_t first, last;
    const char *text;
};
constexpr StandIn kStandIns[] = {
    { 0x0110, 0x0110, "D" },
    { 0x0111, 0x0111, "d" },
    { 0x0131, 0x0131, "i" },
    { 0x0141, 0x0141, "L" },
    { 0x0142, 0x0142, "l" },
    { 0x0152, 0x0152, "OE" },
    { 0x0153, 0x0153, "oe" },
    { 0x0300, 0x036F, "" }, // combining marks: the letter before them stands alone
    { 0x2002, 0x200A, " " },
    { 0x200B, 0x200D, "" },
    { 0x2010, 0x2015, "-" },
    { 0x2018, 0x201B, "'" },
    { 0x201C, 0x201F, "\"" },
    { 0x2022, 0x2022, "*" },
    { 0x2026, 0x2026, "..." },
    { 0x2032, 0x2032, "'" },
    { 0x2033, 0x2033, "\"" },
    { 0x2039, 0x2039, "<" },
    { 0x203A, 0x203A, ">" },
    { 0x20AC, 0x20AC, "EUR" },
    { 0x2122, 0x2122, "TM" },
    { 0x2212, 0x2212, "-" },
    { 0xFEFF, 0xFEFF, "" },
};

// Appends `c` as ISO 8859-1: itself, its stand-in, its letter without marks, or "?".
void appendLatin1(char *&out, char32_t c)
{
    if (c == '\t' || c == '\r' || c == '\n') {
        *out++ = ' ';
        return;
    }
    if (c <= 0xFF) {
        *out++ = char(c);
        return;
    }
    for (const StandIn &s : kStandIns) {
        if (c >= s.first && c <= s.last) {
            for (const char *t = s.text; *t; ++t)
                *out++ = *t;
            return;
        }
    }
    if (c <= 0xFFFF) {
        const QString decomposed
            = QString(QChar(char16_t(c))).normalized(QString::NormalizationForm_D);
        const char16_t base = decomposed.isEmpty() ? 0 : decomposed.front().unicode();
        if (base != c && base != 0 && base <= 0xFF) {
            *out++ = char(base);
            return;
        }
    }
    *out++ = '?';
}

} // namespace

void appendField(QByteArray &line, QStringView field)
{
    const qsizetype at = line.size();
    // A stand-in takes at most three bytes for one UTF-16 unit.
    line.resize(at + 3 * field.size());
    char *const begin = line.data() + at;
    char *out = begin;
    for (qsizetype i = 0; i < field.size(); ++i) {
        char32_t c = field[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < field.size()
            && QChar::isLowSurrogate(field[i + 1].unicode()))
            c = QChar::surrogateToUcs4(char16_t(c), field[++i].unicode());
        appendLatin1(out, c);
    }
    line.resize(at + (out - begin));
}

void appendUtf8Field(QByteArray &line, std::string_view utf8)
{
    const qsizetype at = line.size();
    // Never longer than the UTF-8 bytes: every character, and its stand-in, takes at most
    // as many bytes.
    line.resize(at + qsizetype(utf8.size()));
    char *const begin = line.data() + at;
    char *out = begin;
    const auto *p = reinterpret_cast<const unsigned char *>(utf8.data());
    const auto *end = p + utf8.size();
    while (p < end) {
        const unsigned char b = *p;
        if (b < 0x80) {
            appendLatin1(out, b);
            ++p;
        } else if (b < 0xE0 && p + 1 < end) {
            appendLatin1(out, char32_t(((b & 0x1F) << 6) | (p[1] & 0x3F)));
            p += 2;
        } else if (b < 0xF0 && p + 2 < end) {
            appendLatin1(out, char32_t(((b & 0x0F) << 12) | ((p[1] & 0x3F) << 6) | (p[2] & 0x3F)));
            p += 3;
        } else {
            // Outside the Basic Multilingual Plane, or cut short: no stand-in.
            *out++ = '?';
            p += std::min<std::ptrdiff_t>(end - p, b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4);
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
