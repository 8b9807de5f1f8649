#include "widgets/RuleFilterEditor.h"

#include "ui/KeywordRuleTable.h"
#include "ui/RuleFilters.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QSpinBox>
#include <QTimeEdit>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

namespace
{
const char *const kDayNames[] = { "Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun" };

// 0 stands for "no bound": a spin box that says so.
QSpinBox *minutesBox(const QString &name)
{
    auto *box = new QSpinBox;
    box->setObjectName(name);
    box->setRange(0, 24 * 60);
    box->setSingleStep(5);
    box->setSuffix(QStringLiteral(" min"));
    box->setSpecialValueText(QStringLiteral("any"));
    return box;
}

QTimeEdit *timeBox(const QString &name)
{
    auto *edit = new QTimeEdit;
    edit->setObjectName(name);
    edit->setDisplayFormat(QStringLiteral("HH:mm"));
    edit->setEnabled(false);
    return edit;
}
} // namespace

RuleFilterEditor::RuleFilterEditor(KeywordRuleTable *rules, ChannelList channels, QWidget *parent)
    : QWidget(parent)
    , rules_(rules)
    , channelList_(std::move(channels))
{
    setObjectName("ruleFilterEditor");
    hint_ = new QLabel(tr("Select one rule to record it only on some channels, days or "
                          "times, or only the first showing of each episode."));
    hint_->setWordWrap(true);
    hint_->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    form_ = new QWidget;

    channels_ = new QListWidget;
    channels_->setObjectName("ruleChannels");
    channels_->setToolTip(tr("Tick channels to keep to them; none ticked: every channel."));
    // About seven rows: the days and times below stay in sight.
    channels_->setMaximumHeight(channels_->fontMetrics().height() * 9);
    connect(channels_, &QListWidget::itemChanged, this, [this] { storeChannels(); });

    auto *dayRow = new QHBoxLayout;
    dayRow->setSpacing(2);
    for (int d = 0; d < 7; ++d) {
        auto *b = new QToolButton;
        b->setObjectName(QStringLiteral("ruleDay%1").arg(d + 1));
        b->setText(tr(kDayNames[d]));
        b->setCheckable(true);
        b->setToolTip(tr("None chosen: every day"));
        connect(b, &QToolButton::toggled, this, [this] { storeDays(); });
        dayRow->addWidget(b);
        days_.push_back(b);
    }
    dayRow->addStretch();

    afterOn_ = new QCheckBox(tr("from"));
    afterOn_->setObjectName("ruleAfterOn");
    after_ = timeBox("ruleStartAfter");
    beforeOn_ = new QCheckBox(tr("until"));
    beforeOn_->setObjectName("ruleBeforeOn");
    before_ = timeBox("ruleStartBefore");
    for (QCheckBox *on : { afterOn_, beforeOn_ })
        connect(on, &QCheckBox::toggled, this, [this] { storeWindow(); });
    for (QTimeEdit *t : { after_, before_ })
        connect(t, &QTimeEdit::timeChanged, this, [this] { storeWindow(); });
    auto *window = new QHBoxLayout;
    window->addWidget(afterOn_);
    window->addWidget(after_);
    window->addWidget(beforeOn_);
    window->addWidget(before_);
    window->addStretch();

    min_ = minutesBox("ruleMinDuration");
    max_ = minutesBox("ruleMaxDuration");
    for (QSpinBox *box : { min_, max_ })
        connect(box, &QSpinBox::valueChanged, this, [this] { storeLength(); });
    auto *length = new QHBoxLayout;
    length->addWidget(min_);
    length->addWidget(new QLabel(tr("to")));
    length->addWidget(max_);
    length->addStretch();

    skip_ = new QCheckBox(tr("Skip repeats: mark only the first showing of each episode"));
    skip_->setObjectName("ruleSkipRepeats");
    connect(skip_, &QCheckBox::toggled, this, [this](bool on) {
        store(QStringLiteral("SkipRepeats"), on ? QVariant(true) : QVariant());
    });

    auto *form = new QFormLayout(form_);
    form->setContentsMargins(0, 0, 0, 0);
    form->addRow(tr("Channels"), channels_);
    form->addRow(tr("Days"), dayRow);
    form->addRow(tr("Starts"), window);
    form->addRow(tr("Length"), length);
    form->addRow(skip_);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 0, 0, 0);
    layout->addWidget(hint_);
    layout->addWidget(form_);
    layout->addStretch(1);
    setMaximumWidth(380);
    showRow(-1);
}

void RuleFilterEditor::showRow(int row)
{
    row_ = row < rules_->numberOfRows() ? row : -1;
    const bool shown = row_ >= 0;
    hint_->setVisible(!shown);
    form_->setEnabled(shown);
    KeywordRule rule;
    if (shown)
        for (const QString &key : KeywordRule::filterKeys())
            rule.setValue(key, rules_->objectValue(key, row_));
    const RuleFilters f = RuleFilters::of(rule);

    loading_ = true;
    // The guide's channels, and any the rule names that the guide does not have.
    std::vector<std::pair<QString, QString>> channels;
    if (channelList_)
        channels = channelList_();
    for (const QString &name : f.channels)
        if (std::none_of(channels.begin(), channels.end(), [&](const auto &c) {
                return c.first.compare(name, Qt::CaseInsensitive) == 0
                    || c.second.compare(name, Qt::CaseInsensitive) == 0;
            }))
            channels.emplace_back(name, name);
    if (channels_->count() != int(channels.size())) {
        channels_->clear();
        for (const auto &[key, name] : channels) {
            auto *item = new QListWidgetItem(
                key == name ? name : QStringLiteral("%1 (%2)").arg(name, key), channels_);
            item->setData(Qt::UserRole, name);
            item->setData(Qt::UserRole + 1, key);
            item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        }
    }
    for (int i = 0; i < channels_->count(); ++i) {
        QListWidgetItem *item = channels_->item(i);
        const bool on = std::any_of(f.channels.begin(), f.channels.end(), [&](const QString &c) {
            return c.compare(item->data(Qt::UserRole).toString(), Qt::CaseInsensitive) == 0
                || c.compare(item->data(Qt::UserRole + 1).toString(), Qt::CaseInsensitive) == 0;
        });
        item->setCheckState(on ? Qt::Checked : Qt::Unchecked);
    }
    for (int d = 0; d < 7; ++d)
        days_[size_t(d)]->setChecked(f.days & (1u << d));
    afterOn_->setChecked(f.startAfter.has_value());
    after_->setEnabled(f.startAfter.has_value());
    if (f.startAfter)
        after_->setTime(QTime(*f.startAfter / 60, *f.startAfter % 60));
    beforeOn_->setChecked(f.startBefore.has_value());
    before_->setEnabled(f.startBefore.has_value());
    if (f.startBefore)
        before_->setTime(QTime(*f.startBefore / 60, *f.startBefore % 60));
    min_->setValue(f.minDuration.value_or(0));
    max_->setValue(f.maxDuration.value_or(0));
    skip_->setChecked(f.skipRepeats);
    loading_ = false;
}

void RuleFilterEditor::store(const QString &key, const QVariant &value)
{
    if (loading_ || row_ < 0)
        return;
    // Unchanged: no match run.
    const QVariant now = rules_->objectValue(key, row_);
    if (now == value || (!now.isValid() && !value.isValid()))
        return;
    rules_->setObjectValue(value, key, row_);
}

void RuleFilterEditor::storeChannels()
{
    QVariantList names;
    for (int i = 0; i < channels_->count(); ++i)
        if (channels_->item(i)->checkState() == Qt::Checked)
            names << channels_->item(i)->data(Qt::UserRole);
    store(QStringLiteral("Channels"), names.isEmpty() ? QVariant() : QVariant(names));
}

void RuleFilterEditor::storeDays()
{
    QVariantList days;
    for (int d = 0; d < 7; ++d)
        if (days_[size_t(d)]->isChecked())
            days << d + 1;
    store(QStringLiteral("Days"), days.isEmpty() ? QVariant() : QVariant(days));
}

void RuleFilterEditor::storeWindow()
{
    after_->setEnabled(afterOn_->isChecked());
    before_->setEnabled(beforeOn_->isChecked());
    const auto text = [](QCheckBox *on, QTimeEdit *t) {
        return on->isChecked() ? QVariant(t->time().toString(QStringLiteral("HH:mm"))) : QVariant();
    };
    store(QStringLiteral("StartAfter"), text(afterOn_, after_));
    store(QStringLiteral("StartBefore"), text(beforeOn_, before_));
}

void RuleFilterEditor::storeLength()
{
    store(QStringLiteral("MinDuration"), min_->value() > 0 ? QVariant(min_->value()) : QVariant());
    store(QStringLiteral("MaxDuration"), max_->value() > 0 ? QVariant(max_->value()) : QVariant());
}
