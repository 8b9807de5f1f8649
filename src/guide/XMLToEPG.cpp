#include "guide/XMLToEPG.h"

#include "base/Settings.h"
#include "base/SystemLog.h"
#include "guide/DayFiles.h"
#include "guide/GuideTime.h"
#include "guide/TGDFormat.h"
#include "guide/XMLTree.h"

#include <QDir>
#include <QHash>
#include <algorithm>
#include <climits>
#include <cstdio>
#include <limits>
#include <tuple>
#include <type_traits>

// Normalising the imported programmes (times, channel keys, region, order) and writing the
// TGD day files, from the list or straight from the document; reading the document is
// XMLToEPGImport.cpp's part, the day XMLTV files XMLToEPGExport.cpp's.

namespace
{

static_assert(std::is_nothrow_move_constructible_v<XMLTVProgramme>);

// What the normalisation needs of a channel identifier, worked out once per identifier.
struct ChannelFacts {
    QString displayChan;
    QString chanName;
    QByteArray field; // chanName as a day-file field
    bool excluded = false;
};

class Channels
{
public:
    Channels()
        : oldStyle_(Settings::boolean(QStringLiteral("useOldStyleNames")))
        , location_(Settings::string(QStringLiteral("location")))
    {
    }

    const ChannelFacts &facts(const QString &raw)
    {
        auto it = byName_.constFind(raw);
        if (it == byName_.cend())
            it = byName_.insert(raw, make(raw));
        return *it;
    }
    const ChannelFacts &facts(const std::string &rawUtf8)
    {
        auto it = byBytes_.constFind(QByteArray::fromRawData(rawUtf8.data(), qsizetype(rawUtf8.size())));
        if (it == byBytes_.cend())
            it = byBytes_.insert(QByteArray(rawUtf8.data(), qsizetype(rawUtf8.size())),
                make(QString::fromUtf8(rawUtf8.data(), qsizetype(rawUtf8.size()))));
        return *it;
    }

private:
    ChannelFacts make(const QString &raw) const
    {
        ChannelFacts f;
        if (oldStyle_) {
            f.displayChan = raw;
            f.chanName = raw;
        } else {
            std::tie(f.displayChan, f.chanName) = XMLToEPG::fixChannel(raw);
        }
        tgd::appendField(f.field, f.chanName);
        f.excluded = XMLToEPG::excludedForLocation(raw, location_);
        return f;
    }

    bool oldStyle_;
    QString location_;
    QHash<QString, ChannelFacts> byName_;
    QHash<QByteArray, ChannelFacts> byBytes_;
};

// Measured between the true instants, so a programme spanning a clock change keeps its
// real length. Clamped: a stop thousands of years off must not wrap round to a negative
// length.
int durationMinutes(const std::optional<GuideTime> &start, const std::optional<GuideTime> &stop)
{
    if (!start || !stop)
        return 0;
    return int(std::clamp<qint64>((stop->utcSecs - start->utcSecs) / 60, INT_MIN, INT_MAX));
}

// Channel key, start and duration of a day-file line, each followed by its TAB.
void appendLineHead(QByteArray &line, const QByteArray &channelField, const QDate &d,
    int minuteOfDay, int duration)
{
    char head[64];
    const int n = std::snprintf(head, sizeof head, "\t%04d-%02d-%02d %02d:%02d\t%d\t", d.year(),
        d.month(), d.day(), minuteOfDay / 60, minuteOfDay % 60, duration);
    line += channelField;
    line.append(head, n);
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
    if (!dateString) {
        systemLog(QStringLiteral("dateString not long enough"));
        return std::nullopt;
    }
    if (const std::optional<GuideTime> t = parseGuideTime(*dateString))
        return t->toDateTime();
    return std::nullopt;
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
    Channels channels;
    auto timeOf = [](const std::optional<QString> &text) -> std::optional<GuideTime> {
        if (!text) {
            systemLog(QStringLiteral("dateString not long enough"));
            return std::nullopt;
        }
        return parseGuideTime(*text);
    };
    std::vector<std::pair<qint64, size_t>> order;
    order.reserve(programmes.size());
    size_t kept = 0;
    for (size_t i = 0; i < programmes.size(); ++i) {
        XMLTVProgramme &p = programmes[i];
        const std::optional<GuideTime> start = timeOf(p.rawStart);
        const std::optional<GuideTime> stop = timeOf(p.rawStop);
        p.startDate = start ? std::optional<QDateTime>(start->toDateTime()) : std::nullopt;
        p.stopDate = stop ? std::optional<QDateTime>(stop->toDateTime()) : std::nullopt;
        p.duration = durationMinutes(start, stop);
        const ChannelFacts &c = channels.facts(p.rawChannel.value_or(QString()));
        p.displayChan = c.displayChan;
        p.chanName = c.chanName;
        if (c.excluded)
            continue;
        // Sorted through keys so each record moves once; equal starts keep their order
        // and programmes without a start go last.
        order.emplace_back(start ? start->utcSecs : std::numeric_limits<qint64>::max(), kept);
        if (kept != i)
            programmes[kept] = std::move(p);
        ++kept;
    }
    programmes.erase(programmes.begin() + qsizetype(kept), programmes.end());
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
    QByteArray channelField;
    for (const XMLTVProgramme &p : programmes) {
        if (!p.startDate) {
            systemLog(QStringLiteral("programme without a start time not written: ") + p.title);
            ++result.skipped;
            continue;
        }
        const QDate d = p.startDate->date();
        const QTime t = p.startDate->time();
        files.beginDay(dayKey(d));
        QByteArray &line = files.content();
        channelField.clear();
        tgd::appendField(channelField, p.chanName);
        appendLineHead(line, channelField, d, t.hour() * 60 + t.minute(), p.duration);
        for (const QString *field : { &p.title, &p.subtitle, &p.description, &p.rating }) {
            tgd::appendField(line, *field);
            line += '\t';
        }
        tgd::appendField(line, p.record);
        line += '\n';
        files.countProgramme();
    }
    files.commit();
    return result;
}

ExportResult XMLToEPG::convertToTGD(
    const QString &url, const QString &folder, QString *error, bool *foundGuide) const
{
    // Every line lands in large blocks, so the document's text is held once, as Latin-1.
    constexpr qsizetype kBlock = 1 << 20;
    struct Line {
        qint64 start; // the sort key: seconds since the epoch
        quint32 block, offset, length;
        QDate day;
    };
    std::vector<QByteArray> blocks;
    std::vector<Line> lines;
    lines.reserve(1 << 16);
    QStringList unstarted; // titles, in document order
    int shortTimes = 0;
    Channels channels;

    static const std::string names[] = { "title", "rating", "category", "desc", "sub-title" };
    std::string text[5], channel, start, stop;
    QByteArray line;
    bool guide = false;
    const bool stands = importEach(url, error, &guide, [&](_xmlNode *node) {
        const _xmlNode *found[5];
        xmltree::descendentsNamed(node, names, 5, found);
        for (int i = 0; i < 5; ++i) {
            text[i].clear();
            xmltree::appendDescription(found[i], text[i]);
        }
        channel.clear();
        start.clear();
        stop.clear();
        // Each raw key counts only when the ones before it are there.
        const bool hasChannel = xmltree::appendAttribute(node, "channel", channel);
        const bool hasStart = hasChannel && xmltree::appendAttribute(node, "start", start);
        const bool hasStop = hasStart && xmltree::appendAttribute(node, "stop", stop);
        auto timeOf = [&shortTimes](bool present, const std::string &t) {
            if (!present) {
                ++shortTimes;
                return std::optional<GuideTime>();
            }
            return parseGuideTime(std::string_view(t), &shortTimes);
        };
        const std::optional<GuideTime> from = timeOf(hasStart, start);
        const std::optional<GuideTime> to = timeOf(hasStop, stop);
        const ChannelFacts &facts = channels.facts(channel);
        if (facts.excluded)
            return;
        if (!from) {
            unstarted << QString::fromUtf8(text[0].data(), qsizetype(text[0].size()));
            return;
        }
        const QDate day = from->wallDate();
        line.clear();
        appendLineHead(line, facts.field, day, from->wallMinuteOfDay(), durationMinutes(from, to));
        tgd::appendUtf8Field(line, text[0]);
        line += '\t';
        // "subtitle": the sub-title, " [", the category, "]".
        tgd::appendUtf8Field(line, text[4]);
        line += " [";
        tgd::appendUtf8Field(line, text[2]);
        line += "]\t";
        tgd::appendUtf8Field(line, text[3]);
        line += '\t';
        tgd::appendUtf8Field(line, text[1]);
        line += "\tN\n";
        if (blocks.empty() || blocks.back().size() + line.size() > blocks.back().capacity()) {
            blocks.emplace_back();
            blocks.back().reserve(std::max(kBlock, line.size()));
        }
        lines.push_back({ from->utcSecs, quint32(blocks.size() - 1), quint32(blocks.back().size()),
            quint32(line.size()), day });
        blocks.back() += line;
    });
    if (foundGuide)
        *foundGuide = guide;
    ExportResult result;
    if (!guide)
        return result;
    if (!stands) {
        // The guide element is a later node: none of what was read belongs to it.
        lines.clear();
        unstarted.clear();
        shortTimes = 0;
    }
    // The system log hears what the list-based steps would have said, in their order.
    for (int i = 0; i < shortTimes; ++i)
        systemLog(QStringLiteral("dateString not long enough"));
    for (const QString &title : unstarted)
        systemLog(QStringLiteral("programme without a start time not written: ") + title);
    result.skipped = int(unstarted.size());
    if (!QDir().mkpath(folder)) {
        result.noFolder = true;
        result.error = folder;
        return result;
    }
    std::stable_sort(lines.begin(), lines.end(),
        [](const Line &a, const Line &b) { return a.start < b.start; });
    const int skipped = result.skipped;
    DayFiles files(folder, ".tgd", result);
    QDate day;
    for (const Line &l : lines) {
        if (l.day != day) {
            day = l.day;
            files.beginDay(dayKey(day));
        }
        files.content().append(blocks[l.block].constData() + l.offset, l.length);
        files.countProgramme();
    }
    files.commit();
    result.skipped = skipped;
    return result;
}
