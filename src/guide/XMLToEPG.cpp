#include "guide/XMLToEPG.h"

#include "base/Paths.h"
#include "base/Settings.h"
#include "base/SystemLog.h"
#include "base/WholeFile.h"
#include "guide/TGDFormat.h"

#include <QFile>
#include <QHash>
#include <QSet>
#include <algorithm>
#include <climits>
#include <cstdio>
#include <limits>
#include <type_traits>

// Normalising the imported programmes (times, channel keys, region, order) and writing the
// day files; reading the document is XMLToEPGImport.cpp's part.

namespace
{

static_assert(std::is_nothrow_move_constructible_v<XMLTVProgramme>);

// Header used when the resources folder has no readable "header.xml".
const char kDefaultHeader[] = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n"
                              "<!DOCTYPE tv SYSTEM \"xmltv.dtd\">\n"
                              "<tv generator-info-name=\"Pallaro\">\n";

bool readDigits(const QString &s, qsizetype at, int count, int &value)
{
    value = 0;
    for (int i = 0; i < count; ++i) {
        const char16_t c = s.at(at + i).unicode();
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

QByteArray dayKey(const QDate &d)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d", d.year(), d.month(), d.day());
    return QByteArray(buf);
}

// Builds one day file at a time, in list order, and writes each whole when its day ends.
// The list is sorted by start, so every day's programmes come together.
class DayFiles
{
public:
    DayFiles(QString folder, const char *extension, ExportResult &result, QByteArray trailer = {})
        : folder_(std::move(folder))
        , extension_(QString::fromLatin1(extension))
        , trailer_(std::move(trailer))
        , result_(result)
    {
    }

    // Moves on to `day`, writing the file of the day before; answers true when a new day began.
    bool beginDay(const QByteArray &day)
    {
        if (day == day_)
            return false;
        finish();
        day_ = day;
        return true;
    }
    QByteArray &content() { return content_; }
    void countProgramme() { ++inFile_; }

    // Writes the open day's file, if any.
    void finish()
    {
        if (day_.isEmpty())
            return;
        content_ += trailer_;
        // The first failure is the one reported.
        if (writeWholeFile(folder_ + QLatin1Char('/') + QString::fromLatin1(day_) + extension_,
                content_, result_.error.isEmpty() ? &result_.error : nullptr)) {
            ++result_.files;
            result_.programmes += inFile_;
        }
        day_.clear();
        content_.clear();
        inFile_ = 0;
    }

private:
    QString folder_;
    QString extension_;
    QByteArray trailer_;
    ExportResult &result_;
    QByteArray day_;
    QByteArray content_;
    int inFile_ = 0;
};

// Element text and attribute values for a day XMLTV file: markup characters as entities,
// everything outside 7-bit ASCII as a numeric character reference.
void appendEscaped(QByteArray &out, const QString &text, bool attribute)
{
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        char32_t c = text.at(i).unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < n && text.at(i + 1).isLowSurrogate()) {
            c = QChar::surrogateToUcs4(char16_t(c), text.at(i + 1).unicode());
            ++i;
        }
        switch (c) {
        case '&':
            out += "&amp;";
            continue;
        case '<':
            out += "&lt;";
            continue;
        case '>':
            out += "&gt;";
            continue;
        case '"':
            out += attribute ? "&quot;" : "\"";
            continue;
        default:
            break;
        }
        // Attribute values would lose TAB and line breaks to normalisation on reading.
        if (c >= 0x80 || (attribute && (c == '\t' || c == '\n' || c == '\r'))) {
            out += "&#";
            out += QByteArray::number(uint(c));
            out += ';';
        } else if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') {
            out += '?'; // not allowed in XML 1.0 at all
        } else {
            out += char(c);
        }
    }
}

} // namespace

const QStringList &XMLTVProgramme::keys()
{
    static const QStringList k = {
        QStringLiteral("title"),
        QStringLiteral("rating"),
        QStringLiteral("category"),
        QStringLiteral("subtitle"),
        QStringLiteral("sub-title"),
        QStringLiteral("description"),
        QStringLiteral("record"),
        QStringLiteral("rawChannel"),
        QStringLiteral("rawStart"),
        QStringLiteral("rawStop"),
        QStringLiteral("startDate"),
        QStringLiteral("stopDate"),
        QStringLiteral("duration"),
        QStringLiteral("chanName"),
        QStringLiteral("displayChan"),
    };
    return k;
}

QVariant XMLTVProgramme::value(const QString &key) const
{
    auto opt = [](const auto &o) { return o ? QVariant(*o) : QVariant(); };
    switch (keys().indexOf(key)) {
    case 0:
        return title;
    case 1:
        return rating;
    case 2:
        return category;
    case 3:
        return subtitle;
    case 4:
        return subTitle;
    case 5:
        return description;
    case 6:
        return record;
    case 7:
        return opt(rawChannel);
    case 8:
        return opt(rawStart);
    case 9:
        return opt(rawStop);
    case 10:
        return opt(startDate);
    case 11:
        return opt(stopDate);
    case 12:
        return duration;
    case 13:
        return chanName;
    case 14:
        return displayChan;
    default:
        return {};
    }
}


std::optional<QDateTime> XMLToEPG::stringToDate(const std::optional<QString> &dateString)
{
    if (!dateString || dateString->size() <= 11) {
        systemLog(QStringLiteral("dateString not long enough"));
        return std::nullopt;
    }
    const QString &s = *dateString;
    qsizetype digits = 0;
    while (digits < s.size() && s.at(digits).unicode() >= '0' && s.at(digits).unicode() <= '9')
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
    const QTime time(h, mi, sec);

    int offset = 0;
    const qsizetype rest = s.size() - digits;
    if (rest == 6) {
        const QChar sign = s.at(digits + 1);
        int oh, om;
        if (s.at(digits) != QLatin1Char(' ')
            || (sign != QLatin1Char('+') && sign != QLatin1Char('-'))
            || !readDigits(s, digits + 2, 2, oh) || !readDigits(s, digits + 4, 2, om) || oh > 14
            || om > 59)
            return std::nullopt;
        offset = (oh * 3600 + om * 60) * (sign == QLatin1Char('-') ? -1 : 1);
    } else if (rest != 0) {
        return std::nullopt;
    }
    if (offset != 0)
        return QDateTime(date, time, Qt::OffsetFromUTC, offset);
    // UTC (XMLTV's meaning of a time without offset): show the local wall-clock time of
    // this very instant, so a guide crossing a daylight-saving change keeps true times.
    const QDateTime utc(date, time, Qt::UTC);
    return utc.toOffsetFromUtc(utc.toLocalTime().offsetFromUtc());
}

std::pair<QString, QString> XMLToEPG::fixChannel(const QString &identifier)
{
    const QString n = identifier.toLower();
    auto has = [&n](const char *pattern) { return n.contains(QLatin1String(pattern)); };
    auto result = [](const char *name, const char *key) {
        return std::pair<QString, QString>(QString::fromLatin1(name), QString::fromLatin1(key));
    };
    if (has("nine") || has("9"))
        return result("Nine", "9");
    if (has("nbn") || has("win") || has("8"))
        return result("NBN/WIN", "8");
    if (has("seven") || has("7"))
        return result("Seven", "7");
    if (has("prim") || has("6"))
        return result("Prime", "6,61");
    if ((has("southern") || has("sc")) && !(has("ten") && has("10")))
        return result("Southern Cross", "6,61");
    if (has("tdt") || has("11"))
        return result("TDT", "11");
    if (has("ten") || has("10") || has("5")) {
        if (has("sc10") || has("5") || has("southern") || has("10nth"))
            return result("SC10", "5");
        return result("TEN", "1,10");
    }
    if (has("abc") || has("2")) {
        if (has("abc2") || has("21"))
            return result("ABC2", "21");
        return result("ABC", "2");
    }
    if (has("sbs") || has("3")) {
        if (has("news") || has("sbsd") || has("digital") || has("33"))
            return result("SBS News", "33");
        if (has("31"))
            return result("Channel 31", "Channel 31");
        return result("SBS", "3");
    }
    return { identifier, identifier };
}

bool XMLToEPG::excludedForLocation(const QString &rawChannel, const QString &location)
{
    static const QStringList north
        = { QStringLiteral("WIN"), QStringLiteral("10Cap"), QStringLiteral("PrimS") };
    static const QStringList south
        = { QStringLiteral("NBN"), QStringLiteral("10Nth"), QStringLiteral("PrimN") };
    if (location == QLatin1String("Northern NSW (North)"))
        return north.contains(rawChannel);
    if (location == QLatin1String("Northern NSW (South)"))
        return south.contains(rawChannel);
    return false;
}

void XMLToEPG::fixData(XMLTVProgrammeList &programmes) const
{
    const bool oldStyle = Settings::boolean(QStringLiteral("useOldStyleNames"));
    const QString location = Settings::string(QStringLiteral("location"));
    QHash<QString, std::pair<QString, QString>> mapped;
    for (XMLTVProgramme &p : programmes) {
        p.startDate = stringToDate(p.rawStart);
        p.stopDate = stringToDate(p.rawStop);
        // Measured between the true instants, so a programme spanning a clock change
        // keeps its real length.
        // Clamped: a stop thousands of years off must not wrap round to a negative length.
        p.duration = p.startDate && p.stopDate
            ? int(std::clamp<qint64>(
                (p.stopDate->toMSecsSinceEpoch() - p.startDate->toMSecsSinceEpoch()) / 60000,
                INT_MIN, INT_MAX))
            : 0;
        const QString raw = p.rawChannel.value_or(QString());
        auto it = mapped.constFind(raw);
        if (it == mapped.cend())
            it = mapped.insert(raw, fixChannel(raw));
        if (oldStyle) {
            p.chanName = raw;
            p.displayChan = raw;
        } else {
            p.displayChan = it->first;
            p.chanName = it->second;
        }
    }
    programmes.erase(std::remove_if(programmes.begin(), programmes.end(),
                         [&location](const XMLTVProgramme &p) {
                             return excludedForLocation(p.rawChannel.value_or(QString()), location);
                         }),
        programmes.end());
    // Sorted through keys so each record moves once; equal starts keep their order and
    // programmes without a start go last.
    std::vector<std::pair<qint64, size_t>> order;
    order.reserve(programmes.size());
    for (size_t i = 0; i < programmes.size(); ++i)
        order.emplace_back(programmes[i].startDate ? programmes[i].startDate->toMSecsSinceEpoch()
                                                   : std::numeric_limits<qint64>::max(),
            i);
    std::stable_sort(
        order.begin(), order.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    // Applied in place, cycle by cycle, so no second list is held.
    std::vector<bool> placed(order.size(), false);
    for (size_t k = 0; k < order.size(); ++k) {
        if (placed[k] || order[k].second == k)
            continue;
        XMLTVProgramme held = std::move(programmes[k]);
        size_t j = k;
        while (order[j].second != k) {
            programmes[j] = std::move(programmes[order[j].second]);
            placed[j] = true;
            j = order[j].second;
        }
        programmes[j] = std::move(held);
        placed[j] = true;
    }
}

ExportResult XMLToEPG::exportTGD(const XMLTVProgrammeList &programmes, const QString &folder) const
{
    ExportResult result;
    DayFiles files(folder, ".tgd", result);
    QStringList fields;
    for (const XMLTVProgramme &p : programmes) {
        if (!p.startDate) {
            systemLog(QStringLiteral("programme without a start time not written: ") + p.title);
            ++result.skipped;
            continue;
        }
        const QDate d = p.startDate->date();
        const QTime t = p.startDate->time();
        files.beginDay(dayKey(d));
        char start[32];
        std::snprintf(start, sizeof start, "%04d-%02d-%02d %02d:%02d", d.year(), d.month(), d.day(),
            t.hour(), t.minute());
        fields = { p.chanName, QString::fromLatin1(start), QString::number(p.duration), p.title,
            p.subtitle, p.description, p.rating, p.record };
        files.content() += tgd::encodeLine(fields, false);
        files.countProgramme();
    }
    files.finish();
    return result;
}

ExportResult XMLToEPG::exportXML(const XMLTVProgrammeList &programmes, const QString &folder) const
{
    ExportResult result;
    if (programmes.empty())
        return result;

    QStringList channels;
    {
        QSet<QString> seen;
        for (const XMLTVProgramme &p : programmes)
            if (p.rawChannel && !seen.contains(*p.rawChannel)) {
                seen.insert(*p.rawChannel);
                channels << *p.rawChannel;
            }
    }
    systemLog(QStringLiteral("XMLTV day files list %1 channels: %2")
                  .arg(channels.size())
                  .arg(channels.join(QStringLiteral(", "))));

    QByteArray header;
    QFile headerFile(Paths::resourcesFolder() + QStringLiteral("header.xml"));
    if (headerFile.open(QIODevice::ReadOnly))
        header = headerFile.readAll();
    if (header.isEmpty()) {
        systemLog(QStringLiteral("header.xml missing or empty; using the built-in header"));
        header = kDefaultHeader;
    }
    QByteArray channelBlock;
    for (const QString &c : channels) {
        channelBlock += "<channel id=\"";
        appendEscaped(channelBlock, c, true);
        channelBlock += "\">\n<display-name lang=\"en\">";
        appendEscaped(channelBlock, c, false);
        channelBlock += "</display-name>\n</channel>\n";
    }

    DayFiles files(folder, ".xml", result, "</tv>\n");
    for (const XMLTVProgramme &p : programmes) {
        if (!p.startDate) {
            ++result.skipped; // no day to put it in; exportTGD has logged it
            continue;
        }
        if (files.beginDay(dayKey(p.startDate->date())))
            files.content() = header + channelBlock;
        QByteArray &content = files.content();
        content += "<programme start=\"";
        appendEscaped(content, p.rawStart.value_or(QString()), true);
        content += "\" stop=\"";
        appendEscaped(content, p.rawStop.value_or(QString()), true);
        content += "\" channel=\"";
        appendEscaped(content, p.rawChannel.value_or(QString()), true);
        content += "\">\n<title lang=\"en\">";
        appendEscaped(content, p.title, false);
        content += "</title>\n<sub-title lang=\"en\">";
        appendEscaped(content, p.subTitle, false);
        content += "</sub-title>\n<desc lang=\"en\">";
        appendEscaped(content, p.description, false);
        content += "</desc>\n<category lang=\"en\">";
        appendEscaped(content, p.category, false);
        content += "</category>\n<rating system=\"CTVA\">\n<value>";
        appendEscaped(content, p.rating, false);
        content += "</value>\n</rating>\n</programme>\n";
        files.countProgramme();
    }
    files.finish();
    return result;
}
