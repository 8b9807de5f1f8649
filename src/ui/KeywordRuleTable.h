#pragma once

#include "guide/TGDEntry.h"
#include "ui/KeywordRule.h"
#include "ui/RuleTableLink.h"

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <functional>
#include <vector>

class TGDPickerController;

// The confirmation the rule table asks for before deleting.
struct RuleAlert {
    QString title;
    QString message;
    QString defaultButton;
    QString alternateButton;
};

// The widget side of the rule table. Called on the UI thread only.
class RuleTableView
{
public:
    virtual ~RuleTableView() = default;
    // Redisplay every row; the row count may have changed.
    virtual void showRules() = 0;
    // Select exactly these rows, without reporting it back as a selection change.
    virtual void showSelection(const std::vector<int> &rows) = 0;
    virtual void showSpinner(bool on) { (void)on; }
    // A window-modal alert; `answer` gets true for the default button.
    virtual void runAlert(const RuleAlert &alert, std::function<void(bool)> answer) = 0;
    virtual void beep() { }
};

// Where a drag comes from.
enum class RuleDragSource { Outside, ThisTable, OtherView };

// The keyword rule table: rows are the rules in order, a column's identifier is the rule
// key it shows. Lives on the UI thread and works on a snapshot of the rules that the
// rules' owner refreshes (reloadRuleTable); every change goes to the owner, which carries
// it out in its exclusive section, so an edit during a reload cycle waits for the cycle
// instead of being lost. Rows are remembered by identity, not by index.
class KeywordRuleTable : public KeywordViews
{
public:
    KeywordRuleTable(RuleListEditor *editor, TGDPickerController *table);

    void setView(RuleTableView *view) { view_ = view; }

    int numberOfRows() const { return int(rows_.size()); }
    QVariant objectValue(const QString &column, int row) const;
    KeywordRulePtr ruleAt(int row) const;
    // Stores the value under the column's key, runs the rule's match run, redisplays.
    void setObjectValue(const QVariant &value, const QString &column, int row);

    // Shows the matches of the selected rules (ascending rows) in the programme table.
    void selectionDidChange(const std::vector<int> &rows);
    std::vector<int> selectedRows() const;
    // The programme table shows the selected rules' matches (again).
    void showSelectedMatches();

    void addBlankRecord();
    // Asks for confirmation (beep and alert), then removes exactly the selected rules.
    void deleteRecord();

    // Drag and drop. The payload is the dragged rules as a rule file's bytes.
    QByteArray writeRows(const std::vector<int> &rows);
    bool validateDrop(int row, RuleDragSource source) const;
    bool acceptDrop(const QByteArray &payload, int row, RuleDragSource source);

    // KeywordViews
    void showSpinner(bool on) override;
    void reloadRuleTable() override;

private:
    void redisplay();

    RuleListEditor *editor_;
    TGDPickerController *table_;
    RuleTableView *view_ = nullptr;
    std::vector<std::pair<KeywordRulePtr, KeywordRule>> rows_;
    KeywordRules selected_;
    KeywordRules movedRows_;
};
