#pragma once

#include <QWidget>

class GridController;
class QPushButton;
class QWebEngineView;

// The "Grid" page: the day's HTML grid in a web view, the previous and next day buttons
// and one button per hour, wired to the grid controller.
class GridPane : public QWidget
{
    Q_OBJECT
public:
    explicit GridPane(GridController *grid, QWidget *parent = nullptr);

    QWebEngineView *webView() const { return webView_; }
    QPushButton *nextButton() const { return next_; }
    QPushButton *previousButton() const { return previous_; }
    const QList<QPushButton *> &hourButtons() const { return hours_; }

private:
    QWebEngineView *webView_;
    QPushButton *next_;
    QPushButton *previous_;
    QList<QPushButton *> hours_;
};
