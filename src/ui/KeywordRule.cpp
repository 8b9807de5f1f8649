#include "ui/KeywordRule.h"

#include "base/Settings.h"

#include <algorithm>
#include <unordered_set>

const QStringList &KeywordRule::keys()
{
    static const QStringList k = { "Keywords", "Negatives", "NumberMatches", "Exact", "padStart",
        "padEnd", "autoRecord", "Matches", "Channels", "Days", "StartAfter", "StartBefore",
        "MinDuration", "MaxDuration", "SkipRepeats" };
    return k;
}

const QStringList &KeywordRule::filterKeys()
{
    static const QStringList k = keys().mid(keys().indexOf(QLatin1String("Channels")));
    return k;
}

namespace
{
QVariant fromOptional(const std::optional<int> &v)
{
    return v ? QVariant(*v) : QVariant();
}
} // namespace

QVariantMap KeywordRule::matchValues(const TGDEntry &entry)
{
    QVariantMap m;
    for (const QString &k : TGDEntry::keys()) {
        const QVariant v = entry.value(k);
        if (v.isValid())
            m.insert(k, v);
    }
    return m;
}

QVariant KeywordRule::value(const QString &key) const
{
    if (key == QLatin1String("Keywords"))
        return keywords;
    if (key == QLatin1String("Negatives"))
        return negatives;
    if (key == QLatin1String("NumberMatches"))
        return numberMatches;
    if (key == QLatin1String("Exact"))
        return exact;
    if (key == QLatin1String("padStart"))
        return fromOptional(padStart);
    if (key == QLatin1String("padEnd"))
        return fromOptional(padEnd);
    if (key == QLatin1String("autoRecord"))
        return autoRecord ? QVariant(*autoRecord) : QVariant();
    if (key == QLatin1String("Matches") && matches) {
        QVariantList list;
        list.reserve(qsizetype(matches->size()));
        for (const TGDEntryPtr &e : *matches)
            list << matchValues(*e);
        return list;
    }
    return filters.value(key);
}

bool KeywordRule::setValue(const QString &key, const QVariant &v)
{
    if (key == QLatin1String("Keywords"))
        keywords = v.toStringList();
    else if (key == QLatin1String("Negatives"))
        negatives = v.toStringList();
    else if (key == QLatin1String("NumberMatches"))
        numberMatches = v.toInt();
    else if (key == QLatin1String("Exact"))
        exact = v.toBool();
    else if (key == QLatin1String("padStart"))
        padStart = v.isValid() ? std::optional<int>(v.toInt()) : std::nullopt;
    else if (key == QLatin1String("padEnd"))
        padEnd = v.isValid() ? std::optional<int>(v.toInt()) : std::nullopt;
    else if (key == QLatin1String("autoRecord"))
        autoRecord = v.isValid() ? std::optional<bool>(v.toBool()) : std::nullopt;
    else if (!filterKeys().contains(key))
        return false;
    else if (v.isValid())
        filters.insert(key, v);
    else
        filters.remove(key);
    return true;
}

bool containsRule(const KeywordRules &rules, const KeywordRulePtr &rule)
{
    return std::find(rules.begin(), rules.end(), rule) != rules.end();
}

KeywordRulePtr createBlankSeq()
{
    auto r = std::make_shared<KeywordRule>();
    r->padStart = Settings::integer(QStringLiteral("keywordPadStart"));
    r->padEnd = Settings::integer(QStringLiteral("keywordPadEnd"));
    return r;
}

std::optional<KeywordRules> insertRules(
    const KeywordRules &seqs, const KeywordRules &copies, int row, const KeywordRules &moved)
{
    if (row < 0 || size_t(row) > seqs.size())
        return std::nullopt;
    KeywordRules out = seqs;
    out.insert(out.begin() + row, copies.begin(), copies.end());
    out.erase(std::remove_if(out.begin(), out.end(),
                  [&](const KeywordRulePtr &r) { return containsRule(moved, r); }),
        out.end());
    return out;
}

TGDEntryList matchesOf(const std::vector<const KeywordRule *> &rules)
{
    TGDEntryList list;
    for (const KeywordRule *rule : rules) {
        if (!rule->matches)
            continue;
        std::unordered_set<const TGDEntry *> these;
        for (const TGDEntryPtr &e : *rule->matches)
            these.insert(e.get());
        list.erase(std::remove_if(list.begin(), list.end(),
                       [&](const TGDEntryPtr &e) { return these.count(e.get()) > 0; }),
            list.end());
        list.insert(list.end(), rule->matches->begin(), rule->matches->end());
    }
    return list;
}
