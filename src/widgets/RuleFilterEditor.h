#pragma once

#include <QString>
#include <QVariant>
#include <QWidget>
#include <functional>
#include <utility>
#include <vector>

class KeywordRuleTable;
class QCheckBox;
class QLabel;
class QListWidget;
class QSpinBox;
class QTimeEdit;
class QToolButton;

// Beside the rule table: the narrowing keys of the one selected rule (channels, weekdays,
// a start window, a length, skipping repeats). Each change is stored on the rule at once,
// which runs its match run, so the programme table follows. UI thread only.
class RuleFilterEditor : public QWidget
{
    Q_OBJECT
public:
    // (key, shown name) of every channel of the guide.
    using ChannelList = std::function<std::vector<std::pair<QString, QString>>()>;
    RuleFilterEditor(KeywordRuleTable *rules, ChannelList channels, QWidget *parent = nullptr);

    // The rule at `row` (-1: none, or more than one selected). Values already shown are
    // left alone, so a field being typed in keeps its cursor.
    void showRow(int row);

private:
    void store(const QString &key, const QVariant &value);
    void storeChannels();
    void storeDays();
    void storeWindow();
    void storeLength();

    KeywordRuleTable *rules_;
    ChannelList channelList_;
    int row_ = -1;
    bool loading_ = false;
    QLabel *hint_;
    QWidget *form_;
    QListWidget *channels_;
    std::vector<QToolButton *> days_;
    QCheckBox *afterOn_, *beforeOn_;
    QTimeEdit *after_, *before_;
    QSpinBox *min_, *max_;
    QCheckBox *skip_;
};
