#include "widgets/RunNotesBar.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>

RunNotesBar::RunNotesBar(QWidget *parent)
    : QFrame(parent)
    , label_(new QLabel)
    , preferences_(new QPushButton(tr("Preferences...")))
{
    preferences_->setObjectName("runNotesPreferences");
    connect(preferences_, &QPushButton::clicked, this, &RunNotesBar::preferencesRequested);
    setObjectName("runNotes");
    label_->setObjectName("runNotesText");
    label_->setWordWrap(true);
    label_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto *close = new QToolButton;
    close->setObjectName("runNotesDismiss");
    close->setText(tr("Dismiss"));
    close->setAutoRaise(true);
    connect(close, &QToolButton::clicked, this, [this] {
        dismissed_ = true;
        hide();
    });
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(10, 6, 6, 6);
    layout->addWidget(label_, 1);
    layout->addWidget(preferences_, 0, Qt::AlignVCenter);
    layout->addWidget(close, 0, Qt::AlignTop);
    hide();
}

void RunNotesBar::setNotes(const QStringList &lines, bool alarming, bool offerPreferences)
{
    preferences_->setVisible(offerPreferences);
    alarming_ = alarming;
    label_->setText(lines.join(QLatin1Char('\n')));
    // Warning colours that read on the window's light grey, whatever the style.
    setStyleSheet(alarming
            ? QStringLiteral("#runNotes { background: #fdf0cf; border: 1px solid #e3b341; "
                             "border-radius: 6px; } #runNotesText { color: #4d3800; }")
            : QStringLiteral("#runNotes { background: #e6f0fb; border: 1px solid #9fbfe6; "
                             "border-radius: 6px; } #runNotesText { color: #1f3550; }"));
    setVisible(!lines.isEmpty() && !dismissed_);
}

QString RunNotesBar::text() const
{
    return label_->text();
}
