#pragma once

#include "ui/KeywordRule.h"

#include <QString>
#include <QVariant>
#include <utility>
#include <vector>

// The two sides of the link between the keyword rule table and the owner of the rules,
// so that neither has to know the other's class.

// The window's side of the keyword rules. Called on the UI thread only, in request order.
class KeywordViews
{
public:
    virtual ~KeywordViews() = default;
    virtual void showSpinner(bool on) = 0;
    virtual void reloadRuleTable() = 0;
};

// The rule list as the rule table changes it. Each change is carried out now or queued
// behind a running reload cycle, and redisplays the rule table.
class RuleListEditor
{
public:
    virtual ~RuleListEditor() = default;
    // The rules with a copy of each one's values, taken at one moment (any thread).
    virtual std::vector<std::pair<KeywordRulePtr, KeywordRule>> ruleSnapshot() const = 0;
    // Stores `value` under the rule key `key`, then runs the rule's match run.
    virtual void setRuleValue(const KeywordRulePtr &rule, const QString &key, const QVariant &value)
        = 0;
    // Appends `rule` (not stored until the next match run or deletion).
    virtual void appendRule(const KeywordRulePtr &rule) = 0;
    // Removes exactly these rules (by identity) and stores the rule file at once.
    virtual void removeRules(const KeywordRules &rules) = 0;
    // Inserts `copies` at `row`, then removes `moved` by identity. Not stored.
    virtual void dropRules(const KeywordRules &copies, int row, const KeywordRules &moved) = 0;
};
