#pragma once

#include <QPainterPath>
#include <QWidget>

// Fills itself with a translucent dark rounded rectangle; children sit on top of it.
class RoundedView : public QWidget
{
    Q_OBJECT
public:
    explicit RoundedView(QWidget *parent = nullptr);

    // The filled outline for a rectangle, corners of radius 25.
    static QPainterPath roundedPath(const QRectF &rect);
    static QColor fillColor() { return QColor::fromRgbF(0.0f, 0.0f, 0.0f, 0.35f); }

protected:
    void paintEvent(QPaintEvent *event) override;
};

// A frameless, fully transparent top-level window that stays above ordinary windows, casts
// no shadow and never takes the keyboard focus. The view given to setView fills it.
class TransparentWindow : public QWidget
{
    Q_OBJECT
public:
    explicit TransparentWindow(const QRect &contentRect, QWidget *parent = nullptr);

    void setView(QWidget *view);
    QWidget *view() const { return view_; }

private:
    QWidget *view_ = nullptr;
};
