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

    static const QStringList &keys();
    // Invalid for an absent value or an unknown key; "Matches" as a QVariantList of
    // QVariantMaps holding the programmes' values.
    QVariant value(const QString &key) const;
    // An invalid value removes an optional key. Answers false for an unknown key or
    // "Matches" (set through `matches`).
    bool setValue(const QString &key, const QVariant &value);
};

using KeywordRulePtr = std::shared_ptr<KeywordRule>;
using KeywordRules = std::vector<KeywordRulePtr>;
