#pragma once

#include <QColor>
#include <QFont>
#include <QPainterPath>
#include <QWidget>

// Appends a rounded corner the way a PostScript arct does: a line from the current point to
// where the circle of the given radius touches the edge into `corner`, then the arc to where
// it touches the edge from `corner` towards `towards`.
void appendArcFromPoint(QPainterPath &path, QPointF corner, QPointF towards, qreal radius);

// A titled box with a rounded, optionally gradient-filled body, a title bar or title tab and
// a border. Its children are laid out inside the body below the title (contentsMargins).
//
// The geometry is worked out with y pointing up from the bottom edge, so the title sits at
// the top of the bounds where y is largest; paintEvent flips it onto the widget.
class RoundedBox : public QWidget
{
    Q_OBJECT
public:
    // The title's text attributes: font, foreground, left aligned, cut at the tail.
    struct TitleAttributes {
        QFont font;
        QColor foreground;
        Qt::Alignment alignment = Qt::AlignLeft;
        Qt::TextElideMode elideMode = Qt::ElideRight;
    };

    explicit RoundedBox(QWidget *parent = nullptr);
    explicit RoundedBox(const QString &title, QWidget *parent = nullptr);

    // Every field back to its default, through the setters.
    void setDefaults();

    qreal borderWidth() const { return borderWidth_; }
    QColor borderColor() const { return borderColor_; }
    QColor titleColor() const { return titleColor_; }
    QColor gradientStartColor() const { return gradientStartColor_; }
    QColor gradientEndColor() const { return gradientEndColor_; }
    QColor backgroundColor() const { return backgroundColor_; }
    const TitleAttributes &titleAttrs() const { return titleAttrs_; }
    bool drawsFullTitleBar() const { return drawsFullTitleBar_; }
    bool selected() const { return selected_; }
    bool drawsGradientBackground() const { return drawsGradientBackground_; }
    QString title() const { return title_; }
    // What `selected` paints the title bar and the border in.
    QColor selectionColor() const;

    void setBorderColor(const QColor &color);
    void setTitleColor(const QColor &color);
    void setDrawsFullTitleBar(bool full);
    void setSelected(bool selected);
    void setDrawsGradientBackground(bool gradient);
    void setTitle(const QString &title);
    // Repaint only while the gradient is shown.
    void setGradientStartColor(const QColor &color);
    void setGradientEndColor(const QColor &color);
    // Repaints only while the gradient is off.
    void setBackgroundColor(const QColor &color);

    // Geometry, y up, in the bounds of the given size.
    static QRectF bodyRect(QSizeF bounds, qreal borderWidth);
    static QPainterPath bodyPath(const QRectF &body);
    QRectF titleRect(QSizeF bounds) const;
    // The closed path of the title bar (full width) or of the tab around the title. A body
    // less than 20 points wider than its title always gets the full bar.
    static QPainterPath titlePath(
        const QRectF &body, qreal radius, const QRectF &titleRect, bool drawsFullTitleBar);
    QPainterPath titlePathWithinRect(
        const QRectF &body, qreal radius, const QRectF &titleRect) const
    {
        return titlePath(body, radius, titleRect, drawsFullTitleBar_);
    }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void updateContentsMargins();

    qreal borderWidth_ = 2.0;
    QColor borderColor_;
    QColor titleColor_;
    QColor gradientStartColor_;
    QColor gradientEndColor_;
    QColor backgroundColor_;
    TitleAttributes titleAttrs_;
    bool drawsFullTitleBar_ = false;
    bool selected_ = false;
    bool drawsGradientBackground_ = true;
    QString title_;
};
