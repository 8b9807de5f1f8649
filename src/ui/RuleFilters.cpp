#include "ui/RuleFilters.h"

#include "base/JsonFile.h"
#include "base/Paths.h"
#include "guide/Folding.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <algorithm>
#include <cmath>

namespace
{

constexpr int kKeepDays = 90;

// A whole number from a property-list integer or real (or the table's int).
std::optional<qint64> wholeNumber(const QVariant &v)
{
    switch (v.typeId()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
    case QMetaType::Short:
        return v.toLongLong();
    case QMetaType::Double:
    case QMetaType::Float: {
        const double d = v.toDouble();
        if (std::isfinite(d) && d == std::floor(d) && std::fabs(d) < 1e15)
            return qint64(d);
        return std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

// The items of an array value; a lone scalar counts as an array of one.
QVariantList itemsOf(const QVariant &v)
{
    if (v.typeId() == QMetaType::QVariantList)
        return v.toList();
    if (v.typeId() == QMetaType::QStringList) {
        QVariantList out;
        for (const QString &s : v.toStringList())
            out << s;
        return out;
    }
    return { v };
}

// The value as the user would recognise it in the file.
QString shown(const QVariant &v)
{
    switch (v.typeId()) {
    case QMetaType::QString:
        return QLatin1Char('"') + v.toString() + QLatin1Char('"');
    case QMetaType::Bool:
        return v.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case QMetaType::QVariantMap:
        return QStringLiteral("a dictionary");
    case QMetaType::QVariantList:
    case QMetaType::QStringList: {
        QStringList items;
        for (const QVariant &item : itemsOf(v))
            items << shown(item);
        return QLatin1Char('[') + items.join(QStringLiteral(", ")) + QLatin1Char(']');
    }
    default:
        return v.isValid() ? v.toString() : QStringLiteral("an unreadable value");
    }
}

QString ignored(const QString &key, const QVariant &v, const QString &want)
{
    return QStringLiteral("\"%1\" holds %2, not %3; it is ignored.").arg(key, shown(v), want);
}

} // namespace

// ---- the filters ------------------------------------------------------------------------

std::optional<int> RuleFilters::minutesOf(const QString &text)
{
    const qsizetype colon = text.indexOf(QLatin1Char(':'));
    if (colon < 1 || colon > 2 || text.size() != colon + 3)
        return std::nullopt;
    bool okH = false, okM = false;
    const int h = text.left(colon).toInt(&okH);
    const int m = text.mid(colon + 1).toInt(&okM);
    for (const QChar c : text)
        if (c != QLatin1Char(':') && !c.isDigit())
            return std::nullopt;
    if (!okH || !okM || h > 23 || m > 59)
        return std::nullopt;
    return h * 60 + m;
}

QString RuleFilters::clockText(int minutes)
{
    return QStringLiteral("%1:%2")
        .arg(minutes / 60, 2, 10, QLatin1Char('0'))
        .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

RuleFilters RuleFilters::of(const KeywordRule &rule)
{
    RuleFilters f;
    const QVariantMap &m = rule.filters;
    if (const auto it = m.constFind(QStringLiteral("Channels")); it != m.cend()) {
        QStringList names;
        bool ok = true;
        for (const QVariant &item : itemsOf(*it)) {
            ok = ok && item.typeId() == QMetaType::QString;
            if (ok && !item.toString().isEmpty())
                names << item.toString();
        }
        if (ok)
            f.channels = names;
        else
            f.problems << ignored(it.key(), *it, QStringLiteral("a list of channel names"));
    }
    if (const auto it = m.constFind(QStringLiteral("Days")); it != m.cend()) {
        unsigned days = 0;
        bool ok = true;
        for (const QVariant &item : itemsOf(*it)) {
            const std::optional<qint64> d = wholeNumber(item);
            ok = ok && d && *d >= 1 && *d <= 7;
            if (ok)
                days |= 1u << (*d - 1);
        }
        if (ok)
            f.days = days;
        else
            f.problems << ignored(
                it.key(), *it, QStringLiteral("a list of weekdays from 1 (Monday) to 7 (Sunday)"));
    }
    for (const char *key : { "StartAfter", "StartBefore" }) {
        const auto it = m.constFind(QLatin1String(key));
        if (it == m.cend())
            continue;
        const std::optional<int> t = it->typeId() == QMetaType::QString
            ? minutesOf(it->toString().trimmed())
            : std::nullopt;
        if (!t)
            f.problems << ignored(it.key(), *it, QStringLiteral("a time of day as \"HH:MM\""));
        else if (it.key() == QLatin1String("StartAfter"))
            f.startAfter = t;
        else
            f.startBefore = t;
    }
    for (const char *key : { "MinDuration", "MaxDuration" }) {
        const auto it = m.constFind(QLatin1String(key));
        if (it == m.cend())
            continue;
        const std::optional<qint64> n = wholeNumber(*it);
        if (!n || *n < 0 || *n > 100000)
            f.problems << ignored(it.key(), *it, QStringLiteral("a number of minutes"));
        else if (it.key() == QLatin1String("MinDuration"))
            f.minDuration = int(*n);
        else
            f.maxDuration = int(*n);
    }
    if (const auto it = m.constFind(QStringLiteral("SkipRepeats")); it != m.cend()) {
        if (it->typeId() == QMetaType::Bool)
            f.skipRepeats = it->toBool();
        else
            f.problems << ignored(it.key(), *it, QStringLiteral("true or false"));
    }
    return f;
}

bool RuleFilters::narrows() const
{
    return !channels.isEmpty() || days != 0 || startAfter || startBefore || minDuration
        || maxDuration;
}

bool RuleFilters::passes(const TGDEntry &e) const
{
    if (!channels.isEmpty()
        && std::none_of(channels.begin(), channels.end(), [&e](const QString &c) {
               return c.compare(e.channel, Qt::CaseInsensitive) == 0
                   || c.compare(e.dispChannelString, Qt::CaseInsensitive) == 0;
           }))
        return false;
    if (minDuration && e.duration < *minDuration)
        return false;
    if (maxDuration && e.duration > *maxDuration)
        return false;
    if (days == 0 && !startAfter && !startBefore)
        return true;
    // The wall clock of the start, as the day file gives it: a changeover day's hours
    // belong to that day whatever the offset.
    if (!e.start.isValid())
        return false;
    if (days != 0 && !(days & (1u << (e.start.date().dayOfWeek() - 1))))
        return false;
    const int t = e.start.time().hour() * 60 + e.start.time().minute();
    if (startAfter && startBefore && *startAfter > *startBefore)
        return t >= *startAfter || t < *startBefore; // past midnight
    return (!startAfter || t >= *startAfter) && (!startBefore || t < *startBefore);
}

QString RuleFilters::describe() const
{
    QStringList parts;
    if (!channels.isEmpty())
        parts << QStringLiteral("Channels=") + channels.join(QLatin1Char(','));
    if (days != 0) {
        QStringList d;
        for (int i = 0; i < 7; ++i)
            if (days & (1u << i))
                d << QString::number(i + 1);
        parts << QStringLiteral("Days=") + d.join(QLatin1Char(','));
    }
    if (startAfter)
        parts << QStringLiteral("StartAfter=") + clockText(*startAfter);
    if (startBefore)
        parts << QStringLiteral("StartBefore=") + clockText(*startBefore);
    if (minDuration)
        parts << QStringLiteral("MinDuration=%1").arg(*minDuration);
    if (maxDuration)
        parts << QStringLiteral("MaxDuration=%1").arg(*maxDuration);
    if (skipRepeats)
        parts << QStringLiteral("SkipRepeats");
    return parts.join(QStringLiteral("; "));
}

QString episodeOf(const TGDEntry &e)
{
    QString sub = e.subAndCat;
    const qsizetype bracket
        = sub.startsWith(QLatin1Char('[')) ? 0 : sub.indexOf(QStringLiteral(" ["));
    if (bracket >= 0 && sub.endsWith(QLatin1Char(']')))
        sub.truncate(bracket);
    sub = sub.trimmed();
    const QString part = sub.isEmpty() ? e.description.trimmed() : sub;
    const QString title = e.title.trimmed();
    if (part.isEmpty() || title.isEmpty())
        return {};
    // A line feed is in no field of a day-file line.
    return foldCaseAndDiacritics(title) + QLatin1Char('\n') + foldCaseAndDiacritics(part);
}

// ---- the memory of episodes shown ------------------------------------------------------

ShownEpisodes::ShownEpisodes(QString path)
    : path_(std::move(path))
{
}

QString ShownEpisodes::defaultPath()
{
    return Paths::applicationSupportFolder() + QStringLiteral("/ShownEpisodes.json");
}

std::optional<ShownEpisodes::Map> ShownEpisodes::readFile(QString *problem) const
{
    const std::optional<QJsonObject> doc = readJsonObject(path_, problem);
    if (!doc)
        return std::nullopt;
    Map map;
    for (const QJsonValue &v : doc->value(QStringLiteral("episodes")).toArray()) {
        const QJsonObject o = v.toObject();
        const QString title = o.value(QStringLiteral("title")).toString();
        const QString episode = o.value(QStringLiteral("episode")).toString();
        const QString day = o.value(QStringLiteral("day")).toString();
        if (!title.isEmpty() && !episode.isEmpty() && day.size() == 8)
            map.insert(title + QLatin1Char('\n') + episode, day);
    }
    return map;
}

void ShownEpisodes::refresh()
{
    const QFileInfo info(path_);
    const QDateTime stamp = info.exists() ? info.lastModified() : QDateTime();
    const qint64 size = info.exists() ? info.size() : -1;
    if (stamp == stamp_ && size == size_)
        return;
    // A damaged memory forgets: the next save writes what this program knows.
    QString problem;
    stored_ = readFile(&problem).value_or(Map {});
    stamp_ = stamp;
    size_ = size;
}

std::optional<QString> ShownEpisodes::day(const QString &episode) const
{
    if (const auto it = changes_.constFind(episode); it != changes_.cend())
        return *it;
    if (const auto it = stored_.constFind(episode); it != stored_.cend())
        return *it;
    return std::nullopt;
}

void ShownEpisodes::remember(
    const QString &episode, const QString &day, const QString &firstDayRead)
{
    const std::optional<QString> now = this->day(episode);
    // A showing on a day still read is recomputed from the guide; one on a day that has
    // left it can only be remembered.
    if (now && (*now == day || *now < firstDayRead))
        return;
    changes_.insert(episode, day);
}

bool ShownEpisodes::save(const QDate &today, QString *error)
{
    if (changes_.isEmpty())
        return true;
    QString problem;
    Map all = readFile(&problem).value_or(Map {});
    for (auto it = changes_.cbegin(); it != changes_.cend(); ++it)
        all.insert(it.key(), it.value());
    const QString oldest = today.addDays(-kKeepDays).toString(QStringLiteral("yyyyMMdd"));
    QStringList keys;
    for (auto it = all.cbegin(); it != all.cend(); ++it)
        if (it.value() >= oldest)
            keys << it.key();
    // By day, then episode: a file a person can read and diff.
    std::sort(keys.begin(), keys.end(), [&all](const QString &a, const QString &b) {
        return all[a] != all[b] ? all[a] < all[b] : a < b;
    });
    QJsonArray list;
    Map kept;
    for (const QString &k : keys) {
        QJsonObject o;
        o.insert(QStringLiteral("day"), all[k]);
        o.insert(QStringLiteral("title"), k.section(QLatin1Char('\n'), 0, 0));
        o.insert(QStringLiteral("episode"), k.section(QLatin1Char('\n'), 1));
        list.append(o);
        kept.insert(k, all[k]);
    }
    if (!writeJsonList(path_, QStringLiteral("episodes"), list, error))
        return false;
    stored_ = std::move(kept);
    changes_.clear();
    const QFileInfo info(path_);
    stamp_ = info.lastModified();
    size_ = info.size();
    return true;
}

// ---- the match runs ---------------------------------------------------------------------

RuleFilterRun::RuleFilterRun(QString memoryPath)
    : shown_(std::move(memoryPath))
{
}

RuleFilterRun::Repeats *RuleFilterRun::repeatsOf(const KeywordRulePtr &rule)
{
    repeats_.erase(std::remove_if(repeats_.begin(), repeats_.end(),
                       [](const Repeats &r) { return r.rule.expired(); }),
        repeats_.end());
    for (Repeats &r : repeats_)
        if (r.rule.lock() == rule)
            return &r;
    repeats_.push_back({ rule, false, {}, {} });
    return &repeats_.back();
}

void RuleFilterRun::narrow(const KeywordRulePtr &rule, const TGDEntryList &all,
    std::vector<size_t> &result, const std::function<void(const QString &)> &report)
{
    const RuleFilters f = RuleFilters::of(*rule);
    const QString name = rule->keywords.join(QLatin1Char(' ')).trimmed();
    for (const QString &problem : f.problems) {
        const QString line = QStringLiteral("The rule \"%1\": %2").arg(name, problem);
        if (!said_.contains(line)) {
            said_.insert(line);
            if (report)
                report(line);
        }
    }
    if (f.narrows())
        result.erase(std::remove_if(result.begin(), result.end(),
                         [&](size_t i) { return !f.passes(*all[i]); }),
            result.end());

    Repeats *repeats = repeatsOf(rule);
    repeats->entries.clear();
    repeats->firstDayRead.clear();
    repeats->skip = f.skipRepeats;
    if (!f.skipRepeats)
        return;
    for (const TGDEntryPtr &e : all)
        if (!e->fileNameDataIsFrom.isEmpty()
            && (repeats->firstDayRead.isEmpty() || e->fileNameDataIsFrom < repeats->firstDayRead))
            repeats->firstDayRead = e->fileNameDataIsFrom;
    shown_.refresh();
    // First showings: earliest start, then the full list's order (by channel key).
    std::vector<size_t> order;
    order.reserve(result.size());
    for (size_t i : result)
        if (all[i]->start.isValid())
            order.push_back(i);
    std::stable_sort(order.begin(), order.end(),
        [&all](size_t a, size_t b) { return all[a]->start < all[b]->start; });
    QSet<QString> seen;
    for (size_t i : order) {
        const QString episode = episodeOf(*all[i]);
        if (episode.isEmpty())
            continue;
        bool repeat = seen.contains(episode);
        if (!repeat) {
            seen.insert(episode);
            const std::optional<QString> day = shown_.day(episode);
            repeat = day && *day < repeats->firstDayRead;
        }
        if (repeat)
            repeats->entries.insert(all[i].get());
    }
}

bool RuleFilterRun::isRepeat(const KeywordRulePtr &rule, const TGDEntry *e) const
{
    for (const Repeats &r : repeats_)
        if (r.rule.lock() == rule)
            return r.entries.count(e) > 0;
    return false;
}

TGDEntryList RuleFilterRun::toMark(const KeywordRulePtr &rule)
{
    if (!rule->matches)
        return {};
    Repeats *repeats = repeatsOf(rule);
    if (!repeats->skip)
        return *rule->matches;
    TGDEntryList marked;
    for (const TGDEntryPtr &e : *rule->matches) {
        if (repeats->entries.count(e.get()))
            continue;
        marked.push_back(e);
        const QString episode = episodeOf(*e);
        if (!episode.isEmpty())
            shown_.remember(episode, e->fileNameDataIsFrom, repeats->firstDayRead);
    }
    return marked;
}
