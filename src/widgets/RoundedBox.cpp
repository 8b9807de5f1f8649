#include "widgets/RoundedBox.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPaintEvent>
#include <QPainter>
#include <QPalette>
#include <cmath>
#include <numbers>

namespace
{

constexpr qreal cornerRadius = 4.0;
constexpr qreal titleInset = 6.0;
// Room between the border and the children laid out in the box.
constexpr int contentPadding = 4;

qreal whole(qreal v)
{
    return std::trunc(v);
}

QPointF unit(QPointF v)
{
    const qreal length = std::hypot(v.x(), v.y());
    return length > 0 ? v / length : QPointF();
}

// Path coordinates are y up, while arcTo counts its angles anticlockwise on a y-down
// screen; negating y gives the angle as arcTo reads it.
qreal arcAngle(QPointF centre, QPointF p)
{
    return std::atan2(-(p.y() - centre.y()), p.x() - centre.x()) * 180.0 / std::numbers::pi;
}

} // namespace

void appendArcFromPoint(QPainterPath &path, QPointF corner, QPointF towards, qreal radius)
{
    const QPointF from = path.currentPosition();
    const QPointF u = unit(from - corner);
    const QPointF v = unit(towards - corner);
    const qreal cosine = u.x() * v.x() + u.y() * v.y();
    // A zero-length or straight edge has no corner to round.
    if (radius <= 0 || u.isNull() || v.isNull() || std::abs(cosine) > 1.0 - 1e-9) {
        path.lineTo(corner);
        return;
    }
    const qreal half = std::acos(cosine) / 2;
    const qreal reach = radius / std::tan(half);
    const QPointF start = corner + u * reach;
    const QPointF end = corner + v * reach;
    const QPointF centre = corner + unit(u + v) * (radius / std::sin(half));
    path.lineTo(start);
    const qreal a1 = arcAngle(centre, start);
    qreal sweep = arcAngle(centre, end) - a1;
    if (sweep > 180)
        sweep -= 360;
    else if (sweep < -180)
        sweep += 360;
    path.arcTo(QRectF(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius), a1, sweep);
}

RoundedBox::RoundedBox(QWidget *parent)
    : QWidget(parent)
{
    setDefaults();
}

RoundedBox::RoundedBox(const QString &title, QWidget *parent)
    : RoundedBox(parent)
{
    setTitle(title);
}

void RoundedBox::setDefaults()
{
    borderWidth_ = 2.0;
    setBorderColor(QColor(Qt::gray));
    QFont font = QApplication::font();
    font.setBold(true);
    // The small control size is 11 points where the regular one is 13.
    font.setPointSizeF(std::max(8.0, font.pointSizeF() * 11.0 / 13.0));
    titleAttrs_.font = font;
    titleAttrs_.alignment = Qt::AlignLeft;
    titleAttrs_.elideMode = Qt::ElideRight;
    setTitleColor(QColor(Qt::white));
    // The gradient setters repaint only while the gradient shows, so switch it on first.
    setDrawsGradientBackground(true);
    setGradientStartColor(QColor::fromRgbF(0.92f, 0.92f, 0.92f, 1.0f));
    setGradientEndColor(QColor::fromRgbF(0.82f, 0.82f, 0.82f, 1.0f));
    setBackgroundColor(QColor::fromRgbF(0.90f, 0.90f, 0.90f, 1.0f));
    setDrawsFullTitleBar(false);
    setSelected(false);
    updateContentsMargins();
}

QColor RoundedBox::selectionColor() const
{
    return palette().color(QPalette::Active, QPalette::Highlight);
}

void RoundedBox::setBorderColor(const QColor &color)
{
    borderColor_ = color;
    update();
}

void RoundedBox::setTitleColor(const QColor &color)
{
    titleColor_ = color;
    titleAttrs_.foreground = color;
    update();
}

void RoundedBox::setDrawsFullTitleBar(bool full)
{
    drawsFullTitleBar_ = full;
    update();
}

void RoundedBox::setSelected(bool selected)
{
    selected_ = selected;
    update();
}

void RoundedBox::setDrawsGradientBackground(bool gradient)
{
    drawsGradientBackground_ = gradient;
    update();
}

void RoundedBox::setTitle(const QString &title)
{
    title_ = title;
    update();
}

void RoundedBox::setGradientStartColor(const QColor &color)
{
    gradientStartColor_ = color.toRgb();
    if (drawsGradientBackground_)
        update();
}

void RoundedBox::setGradientEndColor(const QColor &color)
{
    gradientEndColor_ = color.toRgb();
    if (drawsGradientBackground_)
        update();
}

void RoundedBox::setBackgroundColor(const QColor &color)
{
    backgroundColor_ = color;
    if (!drawsGradientBackground_)
        update();
}

QRectF RoundedBox::bodyRect(QSizeF bounds, qreal borderWidth)
{
    const qreal inset = borderWidth - 1;
    return QRectF(inset, inset, bounds.width() - 2 * inset, bounds.height() - 2 * inset);
}

QPainterPath RoundedBox::bodyPath(const QRectF &body)
{
    const qreal minX = whole(body.x()), minY = whole(body.y());
    const qreal maxX = whole(body.x() + body.width()), maxY = whole(body.y() + body.height());
    const qreal midX = whole(body.x() + body.width() / 2),
                midY = whole(body.y() + body.height() / 2);
    QPainterPath path(QPointF(midX, minY));
    appendArcFromPoint(path, { maxX, minY }, { maxX, midY }, cornerRadius);
    appendArcFromPoint(path, { maxX, maxY }, { midX, maxY }, cornerRadius);
    appendArcFromPoint(path, { minX, maxY }, { minX, midY }, cornerRadius);
    appendArcFromPoint(path, { minX, minY }, { midX, minY }, cornerRadius);
    path.closeSubpath();
    return path;
}

QRectF RoundedBox::titleRect(QSizeF bounds) const
{
    const QSizeF s = QFontMetricsF(titleAttrs_.font).size(Qt::TextSingleLine, title_);
    return QRectF(titleInset, bounds.height() - 2.0 - s.height(),
        std::min(s.width(), bounds.width() - 2 * titleInset), s.height());
}

QPainterPath RoundedBox::titlePath(
    const QRectF &body, qreal radius, const QRectF &titleRect, bool drawsFullTitleBar)
{
    const qreal x = body.x(), y = body.y(), w = body.width(), h = body.height();
    const qreal tx = titleRect.x(), ty = titleRect.y();
    const qreal tw = titleRect.width(), th = titleRect.height();
    const qreal minX = whole(x);
    const qreal maxY = whole(y + h);
    // The gap above the title is repeated below it, its left inset on its right.
    const qreal bottom = whole(ty - (maxY - (ty + th)));
    const qreal right = whole(minX + tw + 2 * (tx - x));

    QPainterPath path(QPointF(minX, bottom));
    if (w - tw < 20.0 || drawsFullTitleBar) {
        path.lineTo(x + w, bottom);
        appendArcFromPoint(path, { x + w, maxY }, { x + w / 2, maxY }, radius);
    } else {
        appendArcFromPoint(path, { right, bottom }, { right, maxY }, radius);
        path.lineTo(right, maxY);
    }
    appendArcFromPoint(path, { minX, maxY }, { minX, bottom }, radius);
    path.closeSubpath();
    return path;
}

void RoundedBox::updateContentsMargins()
{
    // The bar's height does not depend on the box's height; measure it in any tall box.
    const QSizeF probe(1000, 1000);
    const QRectF bar
        = titlePath(bodyRect(probe, borderWidth_), cornerRadius, titleRect(probe), true)
              .boundingRect();
    const int side = int(std::ceil(borderWidth_)) + contentPadding;
    const int top = int(std::ceil(probe.height() - bar.y())) + contentPadding;
    setContentsMargins(side, top, side, side);
}

void RoundedBox::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QSizeF bounds = size();
    const QTransform yUp(1, 0, 0, -1, 0, bounds.height());
    painter.setTransform(yUp);

    const QRectF body = bodyRect(bounds, borderWidth_);
    const QPainterPath bodyOutline = bodyPath(body);
    if (drawsGradientBackground_) {
        const qreal minX = whole(body.x()), minY = whole(body.y());
        const qreal maxX = whole(body.x() + body.width()), maxY = whole(body.y() + body.height());
        QLinearGradient gradient(QPointF(minX, minY), QPointF(minX, maxY));
        gradient.setColorAt(0, gradientStartColor_);
        gradient.setColorAt(1, gradientEndColor_);
        painter.save();
        painter.setClipPath(bodyOutline);
        painter.fillRect(QRectF(minX, minY, maxX - minX, maxY - minY), gradient);
        painter.restore();
    } else {
        painter.fillPath(bodyOutline, backgroundColor_);
    }

    const QRectF title = titleRect(bounds);
    const QColor frame = selected_ ? selectionColor() : borderColor_;
    painter.fillPath(titlePathWithinRect(body, cornerRadius, title), frame);

    // Text upright: back to the widget's own y-down coordinates.
    painter.resetTransform();
    const QRectF textRect(
        title.x(), bounds.height() - title.y() - title.height(), title.width(), title.height());
    painter.setFont(titleAttrs_.font);
    painter.setPen(titleAttrs_.foreground);
    const QFontMetricsF metrics(titleAttrs_.font);
    // Only a title wider than its rectangle is cut, so rounding never cuts one that fits.
    const QString shown = metrics.horizontalAdvance(title_) > title.width()
        ? metrics.elidedText(title_, titleAttrs_.elideMode, title.width())
        : title_;
    painter.drawText(textRect, int(titleAttrs_.alignment | Qt::AlignVCenter), shown);

    painter.setTransform(yUp);
    if (borderWidth_ > 0)
        painter.strokePath(bodyOutline, QPen(frame, borderWidth_));
}
