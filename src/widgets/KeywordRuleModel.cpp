#include "widgets/KeywordRuleModel.h"

#include "ui/RuleFilters.h"
#include "widgets/ColumnTitle.h"
#include "widgets/TokenField.h"

#include <QApplication>
#include <QItemSelectionModel>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>

namespace
{
const QString kRuleMime = QStringLiteral("application/x-pallaro-keyword-rules");
const char *kSourceProperty = "pallaroRuleTable";
const QStringList kTitles = { "Keywords", "Negatives", "Only on", "Exact", "Auto record",
    "Pad start", "Pad end", "Matches" };
// Not a rule key: the narrowing keys in a few words, edited beside the table.
const QString kFilters = QStringLiteral("Filters");

QString filterSummary(const RuleFilters &f)
{
    QStringList parts;
    if (!f.channels.isEmpty())
        parts << f.channels.join(QStringLiteral(", "));
    if (f.days != 0) {
        static const char *const names[] = { "Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun" };
        QStringList days;
        for (int d = 0; d < 7; ++d)
            if (f.days & (1u << d))
                days << QString::fromLatin1(names[d]);
        parts << days.join(QLatin1Char(' '));
    }
    if (f.startAfter || f.startBefore)
        parts << (f.startAfter ? RuleFilters::clockText(*f.startAfter) : QString())
                + QStringLiteral("\u2013")
                + (f.startBefore ? RuleFilters::clockText(*f.startBefore) : QString());
    if (f.minDuration || f.maxDuration)
        parts << (f.minDuration ? QString::number(*f.minDuration) : QString())
                + QStringLiteral("\u2013")
                + (f.maxDuration ? QString::number(*f.maxDuration) : QString())
                + QStringLiteral(" min");
    if (f.skipRepeats)
        parts << QStringLiteral("first showings");
    return parts.join(QStringLiteral(" \u00b7 "));
}

bool isTerms(const QString &key)
{
    return key == QLatin1String("Keywords") || key == QLatin1String("Negatives");
}
bool isCheck(const QString &key)
{
    return key == QLatin1String("Exact") || key == QLatin1String("autoRecord");
}
} // namespace

KeywordRuleModel::KeywordRuleModel(KeywordRuleTable *rules, QObject *parent)
    : QAbstractTableModel(parent)
    , rules_(rules)
    , shownRows_(rules->numberOfRows())
{
}

const QStringList &KeywordRuleModel::columnKeys()
{
    static const QStringList keys = { "Keywords", "Negatives", kFilters, "Exact", "autoRecord",
        "padStart", "padEnd", "NumberMatches" };
    return keys;
}

void KeywordRuleModel::setView(QTableView *view)
{
    view_ = view;
    // One token editor serves both term columns.
    auto *terms = new TokenDelegate(view_);
    for (int c = 0; c < columnCount(); ++c)
        if (isTerms(columnKeys().at(c)))
            view_->setItemDelegateForColumn(c, terms);
    connect(view_->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        if (restoringSelection_)
            return;
        std::vector<int> rows;
        for (const QModelIndex &i : view_->selectionModel()->selectedRows())
            rows.push_back(i.row());
        rules_->selectionDidChange(rows);
    });
}

int KeywordRuleModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : shownRows_;
}

int KeywordRuleModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(columnKeys().size());
}

QVariant KeywordRuleModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rules_->numberOfRows())
        return {};
    const QString key = columnKeys().at(index.column());
    if (key == kFilters) {
        if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
            return {};
        KeywordRule rule;
        for (const QString &k : KeywordRule::filterKeys())
            rule.setValue(k, rules_->objectValue(k, index.row()));
        const RuleFilters f = RuleFilters::of(rule);
        const QString summary = filterSummary(f);
        // Whole, where the column cuts it short, and with what the run ignores.
        if (role == Qt::ToolTipRole)
            return (QStringList { summary } + f.problems).join(QLatin1Char('\n')).trimmed();
        return summary.isEmpty() ? QStringLiteral("any time") : summary;
    }
    const QVariant v = rules_->objectValue(key, index.row());
    if (isCheck(key))
        return role == Qt::CheckStateRole ? QVariant(v.toBool() ? Qt::Checked : Qt::Unchecked)
                                          : QVariant();
    if (role != Qt::DisplayRole && role != Qt::EditRole)
        return {};
    if (isTerms(key)) {
        // Editing works on the terms themselves, empty ones included.
        if (role == Qt::EditRole)
            return v.toStringList();
        QStringList shown;
        for (const QString &t : v.toStringList())
            if (!t.isEmpty())
                shown << t;
        return shown.join(QStringLiteral(", "));
    }
    if (!v.isValid() && role == Qt::EditRole)
        return 0;
    return v;
}

bool KeywordRuleModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (!index.isValid() || index.row() >= rules_->numberOfRows())
        return false;
    const QString key = columnKeys().at(index.column());
    QVariant stored;
    if (isCheck(key)) {
        if (role != Qt::CheckStateRole)
            return false;
        stored = value.toInt() == Qt::Checked;
    } else if (role != Qt::EditRole || key == QLatin1String("NumberMatches") || key == kFilters) {
        return false;
    } else if (isTerms(key)) {
        stored = value.toStringList();
    } else {
        bool ok = false;
        const int minutes = value.toInt(&ok);
        if (!ok)
            return false;
        stored = minutes;
    }
    rules_->setObjectValue(stored, key, index.row());
    Q_EMIT dataChanged(index, index);
    return true;
}

Qt::ItemFlags KeywordRuleModel::flags(const QModelIndex &index) const
{
    Qt::ItemFlags f = QAbstractTableModel::flags(index) | Qt::ItemIsDropEnabled;
    if (!index.isValid())
        return f;
    f |= Qt::ItemIsDragEnabled;
    const QString key = columnKeys().at(index.column());
    if (isCheck(key))
        f |= Qt::ItemIsUserCheckable;
    else if (key != QLatin1String("NumberMatches") && key != kFilters)
        f |= Qt::ItemIsEditable;
    return f;
}

QVariant KeywordRuleModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    return columnTitle(kTitles, section, orientation, role);
}

Qt::DropActions KeywordRuleModel::supportedDropActions() const
{
    return Qt::MoveAction | Qt::CopyAction;
}

QStringList KeywordRuleModel::mimeTypes() const
{
    return { kRuleMime };
}

QMimeData *KeywordRuleModel::mimeData(const QModelIndexList &indexes) const
{
    std::vector<int> rows;
    for (const QModelIndex &i : indexes)
        if (i.isValid() && std::find(rows.begin(), rows.end(), i.row()) == rows.end())
            rows.push_back(i.row());
    std::sort(rows.begin(), rows.end());
    auto *data = new QMimeData;
    data->setData(kRuleMime, rules_->writeRows(rows));
    data->setProperty(kSourceProperty, QVariant::fromValue(quintptr(this)));
    return data;
}

int KeywordRuleModel::dropRow(int row, const QModelIndex &parent) const
{
    if (row >= 0)
        return row;
    return parent.isValid() ? parent.row() : rules_->numberOfRows();
}

bool KeywordRuleModel::canDropMimeData(const QMimeData *data, Qt::DropAction action, int row,
    int column, const QModelIndex &parent) const
{
    (void)action;
    (void)column;
    if (!data || !data->hasFormat(kRuleMime))
        return false;
    const RuleDragSource source
        = data->property(kSourceProperty).value<quintptr>() == quintptr(this)
        ? RuleDragSource::ThisTable
        : RuleDragSource::Outside;
    return rules_->validateDrop(dropRow(row, parent), source);
}

bool KeywordRuleModel::dropMimeData(
    const QMimeData *data, Qt::DropAction action, int row, int column, const QModelIndex &parent)
{
    if (!canDropMimeData(data, action, row, column, parent))
        return false;
    return rules_->acceptDrop(
        data->data(kRuleMime), dropRow(row, parent), RuleDragSource::ThisTable);
}

void KeywordRuleModel::showRules()
{
    // Same rows: refresh in place, so an open editor and the selection stay put.
    if (shownRows_ == rules_->numberOfRows()) {
        if (shownRows_ > 0)
            Q_EMIT dataChanged(index(0, 0), index(shownRows_ - 1, columnCount() - 1));
        return;
    }
    beginResetModel();
    shownRows_ = rules_->numberOfRows();
    endResetModel();
}

void KeywordRuleModel::showSelection(const std::vector<int> &rows)
{
    if (!view_)
        return;
    restoringSelection_ = true;
    QItemSelection selection;
    for (int row : rows)
        selection.select(index(row, 0), index(row, columnCount() - 1));
    view_->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    restoringSelection_ = false;
}

void KeywordRuleModel::showSpinner(bool on)
{
    if (spinner_)
        spinner_->setVisible(on);
}

void KeywordRuleModel::runAlert(const RuleAlert &alert, std::function<void(bool)> answer)
{
    auto *box = new QMessageBox(alertParent_);
    box->setIcon(QMessageBox::Warning);
    box->setWindowTitle(alert.title);
    box->setText(alert.title);
    box->setInformativeText(alert.message);
    QPushButton *yes = box->addButton(alert.defaultButton, QMessageBox::AcceptRole);
    box->addButton(alert.alternateButton, QMessageBox::RejectRole);
    box->setDefaultButton(yes);
    box->setWindowModality(Qt::WindowModal);
    box->setAttribute(Qt::WA_DeleteOnClose);
    connect(box, &QMessageBox::finished, this,
        [box, yes, answer = std::move(answer)] { answer(box->clickedButton() == yes); });
    box->open();
}

void KeywordRuleModel::beep()
{
    QApplication::beep();
}
