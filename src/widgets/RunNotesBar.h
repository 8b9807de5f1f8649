#pragma once

#include <QFrame>
#include <QStringList>

class QLabel;
class QPushButton;

// A bar above the window's content saying how the unattended runs and the guide stand;
// hidden when there is nothing to say or the user has dismissed it.
class RunNotesBar : public QFrame
{
    Q_OBJECT
public:
    explicit RunNotesBar(QWidget *parent = nullptr);
    // `alarming`: a failure or a guide running out, shown in warning colours.
    // `offerPreferences`: a button that opens the preferences goes with the lines.
    void setNotes(const QStringList &lines, bool alarming, bool offerPreferences = false);
    QString text() const;
    bool isAlarming() const { return alarming_; }

Q_SIGNALS:
    void preferencesRequested();

private:
    QLabel *label_;
    QPushButton *preferences_;
    bool alarming_ = false;
    bool dismissed_ = false;
};
