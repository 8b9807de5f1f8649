#include "widgets/TransparentWindow.h"

#include "widgets/RoundedBox.h"

#include <QPainter>
#include <QVBoxLayout>
#include <cmath>

RoundedView::RoundedView(QWidget *parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_TranslucentBackground);
}

QPainterPath RoundedView::roundedPath(const QRectF &rect)
{
    constexpr qreal radius = 25.0;
    const qreal x = rect.x(), y = rect.y(), w = rect.width(), h = rect.height();
    auto whole = [](qreal v) { return std::trunc(v); };
    QPainterPath path(QPointF(whole(x + w / 2), whole(y)));
    appendArcFromPoint(
        path, { whole(x + w), whole(y) }, { whole(x + w), whole(y + h / 2) }, radius);
    appendArcFromPoint(
        path, { whole(x + w), whole(y + h) }, { whole(x + w / 2), whole(y + h) }, radius);
    appendArcFromPoint(path, { whole(x), whole(y + h) }, { whole(x), whole(y + h / 2) }, radius);
    appendArcFromPoint(path, { x, y }, { whole(x + w / 2), whole(y) }, radius);
    path.closeSubpath();
    return path;
}

void RoundedView::paintEvent(QPaintEvent *)
{
    // The whole view, not just the damaged part: a partial repaint must not draw a second,
    // smaller rounded rectangle into the first.
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(roundedPath(QRectF(rect())), fillColor());
}

TransparentWindow::TransparentWindow(const QRect &contentRect, QWidget *parent)
    : QWidget(parent,
        Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint
            | Qt::WindowDoesNotAcceptFocus | Qt::NoDropShadowWindowHint)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_NoSystemBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);
    setWindowOpacity(1.0);
    setGeometry(contentRect);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
}

void TransparentWindow::setView(QWidget *view)
{
    if (view_ == view)
        return;
    delete view_;
    view_ = view;
    if (view_)
        layout()->addWidget(view_);
}
