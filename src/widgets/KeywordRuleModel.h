#pragma once

#include "ui/KeywordRuleTable.h"

#include <QAbstractTableModel>

class QTableView;
class QProgressBar;
class QWidget;

// The keyword rule table as a Qt model: one row per rule, a column per rule key. The
// term columns are edited as tokens (the edit role holds the terms as a QStringList;
// setView gives the view the token editor), "Exact" and "autoRecord" as checkboxes, the paddings as numbers; "NumberMatches" is read-only. Rows are dragged
// within the table through the rule table's move.
class KeywordRuleModel : public QAbstractTableModel, public RuleTableView
{
    Q_OBJECT
public:
    KeywordRuleModel(KeywordRuleTable *rules, QObject *parent = nullptr);

    static const QStringList &columnKeys();
    // The view whose selection this model keeps and follows.
    void setView(QTableView *view);
    void setSpinner(QProgressBar *spinner) { spinner_ = spinner; }
    // Where the delete confirmation opens (window-modal).
    void setAlertParent(QWidget *parent) { alertParent_ = parent; }

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role) override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    Qt::DropActions supportedDropActions() const override;
    QStringList mimeTypes() const override;
    QMimeData *mimeData(const QModelIndexList &indexes) const override;
    bool canDropMimeData(const QMimeData *data, Qt::DropAction action, int row, int column,
        const QModelIndex &parent) const override;
    bool dropMimeData(const QMimeData *data, Qt::DropAction action, int row, int column,
        const QModelIndex &parent) override;

    // RuleTableView
    void showRules() override;
    void showSelection(const std::vector<int> &rows) override;
    void showSpinner(bool on) override;
    void runAlert(const RuleAlert &alert, std::function<void(bool)> answer) override;
    void beep() override;

private:
    // Qt drops on an item or past the end; the table drops above a row.
    int dropRow(int row, const QModelIndex &parent) const;

    KeywordRuleTable *rules_;
    QTableView *view_ = nullptr;
    QProgressBar *spinner_ = nullptr;
    QWidget *alertParent_ = nullptr;
    bool restoringSelection_ = false;
    int shownRows_ = 0;
};
