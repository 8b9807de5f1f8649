#pragma once

#include "guide/TGDEntry.h"

#include <QStringList>
#include <QVariant>
#include <memory>
#include <optional>
#include <vector>

// One auto-record rule. Every key of the rule file stays reachable by its name
// (value/setValue) for the rule table and the file.
struct KeywordRule {
    QStringList keywords; // "Keywords": every non-empty term must match
    QStringList negatives { QString("") }; // "Negatives": any non-empty match drops a programme
    int numberMatches = 0; // "NumberMatches": length of the last match list
    bool exact = false; // "Exact": terms compared with the whole title
    std::optional<int> padStart; // "padStart": minutes, becomes "extStart"
    std::optional<int> padEnd; // "padEnd": minutes, becomes "extStop"
    std::optional<bool> autoRecord; // "autoRecord": absent counts as false
    std::optional<TGDEntryList> matches; // "Matches": absent until the first run
    // The narrowing keys present ("Channels", "Days", "StartAfter", ...), as stored: a value
    // that cannot be used is kept for the file and ignored by the match run (RuleFilters).
    QVariantMap filters;

    static const QStringList &keys();
    // The keys of `filters`, in the order the rule table shows them.
    static const QStringList &filterKeys();
    // One entry of "Matches": the programme's values under their keys, absent ones left out.
    static QVariantMap matchValues(const TGDEntry &entry);
    // Invalid for an absent value or an unknown key; "Matches" as a QVariantList of
    // QVariantMaps holding the programmes' values.
    QVariant value(const QString &key) const;
    // An invalid value removes an optional key. Answers false for an unknown key or
    // "Matches" (set through `matches`).
    bool setValue(const QString &key, const QVariant &value);
};

using KeywordRulePtr = std::shared_ptr<KeywordRule>;
using KeywordRules = std::vector<KeywordRulePtr>;

// Whether `rules` holds this very rule (identity, not content).
bool containsRule(const KeywordRules &rules, const KeywordRulePtr &rule);
// A new rule with the defaults, its paddings from "keywordPadStart"/"keywordPadEnd".
KeywordRulePtr createBlankSeq();
// `seqs` with `copies` inserted at `row` and then `moved` removed by identity; nothing
// when the row lies outside 0..size.
std::optional<KeywordRules> insertRules(
    const KeywordRules &seqs, const KeywordRules &copies, int row, const KeywordRules &moved);
// The programmes of these rules: each rule's matches replace any earlier occurrence, so a
// shared programme appears once, where the last rule has it.
TGDEntryList matchesOf(const std::vector<const KeywordRule *> &rules);
