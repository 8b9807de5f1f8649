#include "ui/KeywordRuleTable.h"

#include "ui/KeywordFile.h"
#include "ui/TGDPickerController.h"

#include <algorithm>

KeywordRuleTable::KeywordRuleTable(RuleListEditor *editor, TGDPickerController *table)
    : editor_(editor)
    , table_(table)
{
    rows_ = editor_->ruleSnapshot();
}

QVariant KeywordRuleTable::objectValue(const QString &column, int row) const
{
    if (row < 0 || row >= numberOfRows())
        return {};
    return rows_[size_t(row)].second.value(column);
}

KeywordRulePtr KeywordRuleTable::ruleAt(int row) const
{
    if (row < 0 || row >= numberOfRows())
        return {};
    return rows_[size_t(row)].first;
}

void KeywordRuleTable::setObjectValue(const QVariant &value, const QString &column, int row)
{
    if (row < 0 || row >= numberOfRows())
        return;
    auto &[rule, shown] = rows_[size_t(row)];
    // Shown at once even when the controller has to queue the edit behind a cycle.
    if (!shown.setValue(column, value))
        return;
    editor_->setRuleValue(rule, column, value);
}

void KeywordRuleTable::selectionDidChange(const std::vector<int> &rows)
{
    std::vector<int> sorted = rows;
    std::sort(sorted.begin(), sorted.end());
    selected_.clear();
    for (int row : sorted)
        if (KeywordRulePtr r = ruleAt(row); r && !containsRule(selected_, r))
            selected_.push_back(r);
    showSelectedMatches();
}

std::vector<int> KeywordRuleTable::selectedRows() const
{
    std::vector<int> rows;
    for (size_t i = 0; i < rows_.size(); ++i)
        if (containsRule(selected_, rows_[i].first))
            rows.push_back(int(i));
    return rows;
}

void KeywordRuleTable::showSelectedMatches()
{
    std::vector<const KeywordRule *> rules;
    for (int row : selectedRows())
        rules.push_back(&rows_[size_t(row)].second);
    if (table_) {
        table_->setFileList(matchesOf(rules));
        table_->reloadTable();
    }
}

void KeywordRuleTable::addBlankRecord()
{
    const KeywordRulePtr rule = createBlankSeq();
    rows_.emplace_back(rule, *rule);
    editor_->appendRule(rule);
    redisplay();
}

void KeywordRuleTable::deleteRecord()
{
    // The rules asked about, whatever happens to the rows while the alert is open.
    KeywordRules victims;
    for (int row : selectedRows())
        victims.push_back(rows_[size_t(row)].first);
    if (victims.empty())
        return;
    if (view_)
        view_->beep();
    const RuleAlert alert { QStringLiteral("Warning!"),
        QStringLiteral("Are you sure you want to delete the selected entry(s)?"),
        QStringLiteral("Delete"), QStringLiteral("Don't Delete") };
    auto answer = [this, victims](bool remove) {
        if (!remove)
            return;
        rows_.erase(std::remove_if(rows_.begin(), rows_.end(),
                        [&](const auto &row) { return containsRule(victims, row.first); }),
            rows_.end());
        selected_.erase(std::remove_if(selected_.begin(), selected_.end(),
                            [&](const KeywordRulePtr &r) { return containsRule(victims, r); }),
            selected_.end());
        editor_->removeRules(victims);
        redisplay();
    };
    if (view_)
        view_->runAlert(alert, answer);
}

QByteArray KeywordRuleTable::writeRows(const std::vector<int> &rows)
{
    movedRows_.clear();
    KeywordRules archive;
    for (int row : rows)
        if (KeywordRulePtr r = ruleAt(row)) {
            movedRows_.push_back(r);
            archive.push_back(std::make_shared<KeywordRule>(rows_[size_t(row)].second));
        }
    return KeywordFile::toXml(archive);
}

bool KeywordRuleTable::validateDrop(int row, RuleDragSource source) const
{
    return row >= 0 && row <= numberOfRows() && source != RuleDragSource::Outside;
}

bool KeywordRuleTable::acceptDrop(const QByteArray &payload, int row, RuleDragSource source)
{
    if (!validateDrop(row, source))
        return false;
    // Copies, with copies of the matches: until their next match run they are not the
    // loaded programmes (a record edit on one still reaches the loaded programme).
    const std::optional<KeywordRules> copies = KeywordFile::fromBytes(payload);
    if (!copies)
        return false;
    const KeywordRules moved = source == RuleDragSource::ThisTable ? movedRows_ : KeywordRules {};
    movedRows_.clear();
    selected_.clear();

    KeywordRules order;
    for (const auto &r : rows_)
        order.push_back(r.first);
    const std::optional<KeywordRules> next = insertRules(order, *copies, row, moved);
    if (!next)
        return false;
    std::vector<std::pair<KeywordRulePtr, KeywordRule>> rows;
    for (const KeywordRulePtr &r : *next) {
        const auto it = std::find_if(
            rows_.begin(), rows_.end(), [&](const auto &old) { return old.first == r; });
        rows.emplace_back(r, it != rows_.end() ? it->second : *r);
    }
    rows_ = std::move(rows);
    editor_->dropRules(*copies, row, moved);
    selected_ = *copies;
    redisplay();
    showSelectedMatches();
    return true;
}

void KeywordRuleTable::showSpinner(bool on)
{
    if (view_)
        view_->showSpinner(on);
}

void KeywordRuleTable::reloadRuleTable()
{
    // A selected rule not in the list yet (a drop queued behind a cycle) stays selected,
    // to be shown once the controller has it.
    rows_ = editor_->ruleSnapshot();
    redisplay();
}

void KeywordRuleTable::redisplay()
{
    if (!view_)
        return;
    view_->showRules();
    view_->showSelection(selectedRows());
}
