#pragma once

#include <QFrame>
#include <QStringList>

class QLabel;

// A bar above the window's content saying how the unattended runs and the guide stand;
// hidden when there is nothing to say or the user has dismissed it.
class RunNotesBar : public QFrame
{
    Q_OBJECT
public:
    explicit RunNotesBar(QWidget *parent = nullptr);
    // `alarming`: a failure or a guide running out, shown in warning colours.
    void setNotes(const QStringList &lines, bool alarming);
    QString text() const;
    bool isAlarming() const { return alarming_; }

private:
    QLabel *label_;
    bool alarming_ = false;
    bool dismissed_ = false;
};
