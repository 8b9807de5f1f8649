#pragma once

#include <QWidget>

// The borderless, translucent intro window shown while the application starts.
class IntroWindow : public QWidget {
    Q_OBJECT
public:
    explicit IntroWindow(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};
