#include "ui/ProgrammeSearch.h"

#include "guide/Folding.h"

#include <QHash>
#include <QMutex>
#include <algorithm>
#include <cstring>
#include <functional>
#include <limits>
#include <numeric>

namespace
{

// A case-folded text as a sort key: most comparisons are settled by its first four
// UTF-16 units packed into one integer, without reaching the text.
struct TextOrder {
    quint64 prefix = 0;
    QString folded;

    explicit TextOrder(const QString &text)
        : folded(text.toCaseFolded())
    {
        for (qsizetype i = 0; i < 4; ++i)
            prefix = prefix << 16 | (i < folded.size() ? folded.at(i).unicode() : 0u);
    }
    bool operator<(const TextOrder &o) const
    {
        if (prefix != o.prefix)
            return prefix < o.prefix;
        return (folded.size() > 4 || o.folded.size() > 4) && folded < o.folded;
    }
};

// Where to look for a word from: its rarest byte, found by memchr far faster than the
// word could be tested at every place of the text.
qsizetype rarestByte(const QByteArray &word)
{
    // Bytes of guide text, the most common first; any other counts as rarer than all.
    static const char common[] = " etaoinsrhldcumfpgwybvk\n.,xjqz0123456789";
    qsizetype best = 0;
    int bestRank = -1;
    for (qsizetype i = 0; i < word.size(); ++i) {
        const char *at = word[i] ? std::strchr(common, word[i]) : nullptr;
        const int rank = at ? int(at - common) : int(sizeof common);
        if (rank > bestRank) {
            bestRank = rank;
            best = i;
        }
    }
    return best;
}

// A date as a hashable value that costs no time-zone conversion: a local time is its wall
// clock and daylight-saving flag (which tell the repeated hour apart), anything else its
// instant.
std::pair<qint64, int> dateValue(const QDateTime &t)
{
    if (!t.isValid())
        return { 0, 3 };
    if (t.timeSpec() != Qt::LocalTime)
        return { t.toMSecsSinceEpoch(), 2 };
    return { t.date().toJulianDay() * 86400000LL + t.time().msecsSinceStartOfDay(),
        t.isDaylightTime() ? 1 : 0 };
}

// An absent date sorts before every date. A local time's instant costs a time-zone
// lookup, and every working list shares the guide's few thousand starts and stops: they
// are remembered for the process (any thread).
qint64 dateOrder(const QDateTime &t)
{
    if (!t.isValid())
        return std::numeric_limits<qint64>::min();
    static QMutex mutex;
    static QHash<std::pair<qint64, int>, qint64> known;
    const auto value = dateValue(t);
    QMutexLocker lock(&mutex);
    if (const auto it = known.constFind(value); it != known.constEnd())
        return *it;
    if (known.size() > 200000)
        known.clear();
    return *known.insert(value, t.toMSecsSinceEpoch());
}

// Ranks by a key with few distinct values (titles repeat, channels and starts are shared
// by many programmes): each distinct value is ordered once. `valueOf` gives a cheap
// hashable value, `orderOf` the costly sort key of a programme with that value.
template <typename Ranks, typename ValueOf, typename OrderOf>
void rankBy(Ranks &ranks, const TGDEntryList &list, ValueOf valueOf, OrderOf orderOf)
{
    if (list.empty())
        return;
    using Value = std::decay_t<decltype(valueOf(*list.front()))>;
    using Order = std::decay_t<decltype(orderOf(*list.front()))>;
    QHash<Value, quint32> slotOf;
    std::vector<Order> orders;
    std::vector<quint32> slot(list.size());
    for (size_t i = 0; i < list.size(); ++i) {
        const Value v = valueOf(*list[i]);
        auto it = slotOf.constFind(v);
        if (it == slotOf.constEnd()) {
            it = slotOf.insert(v, quint32(orders.size()));
            orders.push_back(orderOf(*list[i]));
        }
        slot[i] = *it;
    }
    std::vector<quint32> byOrder(orders.size());
    std::iota(byOrder.begin(), byOrder.end(), quint32(0));
    std::sort(byOrder.begin(), byOrder.end(),
        [&](quint32 a, quint32 b) { return orders[a] < orders[b]; });
    // Values whose keys are equal ("News", "NEWS") share a rank.
    std::vector<quint32> rankOfSlot(orders.size());
    quint32 rank = 0;
    for (size_t k = 0; k < byOrder.size(); ++k) {
        if (k > 0 && orders[byOrder[k - 1]] < orders[byOrder[k]])
            ++rank;
        rankOfSlot[byOrder[k]] = rank;
    }
    ranks.count = rank + 1;
    ranks.of.resize(list.size());
    for (size_t i = 0; i < list.size(); ++i)
        ranks.of[i] = rankOfSlot[slot[i]];
}

// A counting sort by rank, which is stable, then the rows moved into their places.
void placeByRank(ProgrammeIndex::Rows &rows, quint32 count, bool ascending,
    const std::function<quint32(size_t)> &rankOfRow)
{
    std::vector<quint32> place(rows.list.size());
    std::vector<size_t> next(size_t(count) + 1, 0);
    for (size_t k = 0; k < place.size(); ++k) {
        const quint32 r = rankOfRow(k);
        place[k] = ascending ? r : count - 1 - r;
        ++next[place[k] + 1];
    }
    std::partial_sum(next.begin(), next.end(), next.begin());
    ProgrammeIndex::Rows sorted { TGDEntryList(place.size()), std::vector<quint32>(place.size()) };
    for (size_t k = 0; k < place.size(); ++k) {
        const size_t to = next[place[k]]++;
        sorted.list[to] = std::move(rows.list[k]);
        sorted.at[to] = rows.at[k];
    }
    rows = std::move(sorted);
}

} // namespace

ProgrammeIndex::ProgrammeIndex(const TGDEntryList &list)
{
    qsizetype bytes = 0;
    for (const TGDEntryPtr &e : list)
        bytes += e->searchText.size() + 1;
    text_.reserve(bytes);
    ends_.reserve(list.size());
    for (const TGDEntryPtr &e : list) {
        // Every derived programme has its folded text; one made by hand is folded here.
        text_ += e->searchText.isEmpty() ? e->foldedSearchText() : e->searchText;
        text_ += '\0';
        ends_.push_back(quint32(text_.size()));
    }
    rankBy(
        title_, list, [](const TGDEntry &e) { return e.title; },
        [](const TGDEntry &e) { return TextOrder(e.title); });
    rankBy(
        channel_, list, [](const TGDEntry &e) { return e.dispChannelString; },
        [](const TGDEntry &e) { return TextOrder(e.dispChannelString); });
    rankBy(
        start_, list, [](const TGDEntry &e) { return dateValue(e.start); },
        [](const TGDEntry &e) { return dateOrder(e.start); });
    rankBy(
        stop_, list, [](const TGDEntry &e) { return dateValue(e.stop); },
        [](const TGDEntry &e) { return dateOrder(e.stop); });
    rankBy(
        duration_, list, [](const TGDEntry &e) { return e.duration; },
        [](const TGDEntry &e) { return e.duration; });
    rankBy(
        sub_, list, [](const TGDEntry &e) { return e.sub; },
        [](const TGDEntry &e) { return TextOrder(e.sub); });
    rankBy(
        cat_, list, [](const TGDEntry &e) { return e.cat; },
        [](const TGDEntry &e) { return TextOrder(e.cat); });
    rankBy(
        rating_, list, [](const TGDEntry &e) { return e.rating; },
        [](const TGDEntry &e) { return TextOrder(e.rating); });
}

ProgrammeIndex::Rows ProgrammeIndex::allOf(TGDEntryList list)
{
    Rows rows { std::move(list), {} };
    rows.at.resize(rows.list.size());
    std::iota(rows.at.begin(), rows.at.end(), quint32(0));
    return rows;
}

ProgrammeIndex::Rows ProgrammeIndex::search(const Rows &within, const QString &text) const
{
    std::vector<QByteArray> words;
    for (const QString &part : text.split(QLatin1Char(' ')))
        if (!part.isEmpty())
            words.push_back(foldCaseAndDiacritics(part).toUtf8());
    // A word that folds to nothing (combining marks alone) is found nowhere, and nothing
    // holds the NUL that closes each text.
    const auto unusable = [](const QByteArray &w) { return w.isEmpty() || w.contains('\0'); };
    if (words.empty() || std::any_of(words.cbegin(), words.cend(), unusable))
        return {};
    // The first word by one pass through all the texts, the others in its hits only.
    std::vector<bool> hit(ends_.size(), false);
    const QByteArray &first = words.front();
    const char *const all = text_.constData();
    const qsizetype anchor = rarestByte(first);
    const char key = first[anchor];
    const char *const last = all + text_.size() - first.size() + anchor; // last place for key
    for (const char *from = all + anchor;;) {
        const char *p = from <= last
            ? static_cast<const char *>(std::memchr(from, key, size_t(last - from + 1)))
            : nullptr;
        if (!p)
            break;
        const char *at = p - anchor;
        if (std::memcmp(at, first.constData(), size_t(first.size())) != 0) {
            from = p + 1;
            continue;
        }
        const auto i = size_t(
            std::upper_bound(ends_.begin(), ends_.end(), quint32(at - all)) - ends_.begin());
        const quint32 begin = i == 0 ? 0 : ends_[i - 1];
        const QByteArrayView own(all + begin, ends_[i] - begin);
        hit[i] = std::all_of(
            words.cbegin() + 1, words.cend(), [&](const QByteArray &w) { return own.contains(w); });
        from = all + ends_[i] + anchor;
    }
    Rows found;
    for (size_t k = 0; k < within.at.size(); ++k)
        if (within.at[k] < hit.size() && hit[within.at[k]]) {
            found.list.push_back(within.list[k]);
            found.at.push_back(within.at[k]);
        }
    return found;
}

bool ProgrammeIndex::sort(Rows &rows, const QString &column, bool ascending) const
{
    const Ranks *ranks = column == QLatin1String("title") ? &title_
        : column == QLatin1String("dispChannel")          ? &channel_
        : column == QLatin1String("start")                ? &start_
        : column == QLatin1String("stop")                 ? &stop_
        : column == QLatin1String("duration")             ? &duration_
        : column == QLatin1String("sub")                  ? &sub_
        : column == QLatin1String("cat")                  ? &cat_
        : column == QLatin1String("rating")               ? &rating_
                                                          : nullptr;
    if (ranks)
        placeByRank(rows, ranks->count, ascending, [&](size_t k) { return ranks->of[rows.at[k]]; });
    else if (column == QLatin1String("record")) // edited all the time: read as it stands
        placeByRank(rows, 2, ascending, [&](size_t k) { return quint32(rows.list[k]->record); });
    else
        return false;
    return true;
}

TGDEntryList searchProgrammes(const TGDEntryList &list, const QString &text)
{
    return ProgrammeIndex(list).search(ProgrammeIndex::allOf(list), text).list;
}
