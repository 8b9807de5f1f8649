#include "widgets/ChannelBadges.h"

#include <QFont>
#include <QFontMetricsF>
#include <QHash>
#include <QPainter>
#include <QPainterPath>
#include <array>

namespace
{

struct Badge {
    const char *key;
    const char *label;
    QRgb colour; // dark enough for white text
};

// Every key the region mapping gives, with the channel's short name.
constexpr std::array<Badge, 12> badges { {
    { "9", "Nine", 0xff1f4e9c },
    { "8", "WIN", 0xffb3261e },
    { "7", "Seven", 0xffc0392b },
    { "6,61", "Prime", 0xff7b3fa0 },
    { "11", "TDT", 0xff2e7d32 },
    { "5", "SC10", 0xff00796b },
    { "1,10", "TEN", 0xff37474f },
    { "21", "ABC2", 0xff8d6e00 },
    { "2", "ABC", 0xff202020 },
    { "33", "SBS N", 0xff0d47a1 },
    { "Channel 31", "C31", 0xff6d4c41 },
    { "3", "SBS", 0xffad1457 },
} };

QImage drawBadge(const Badge &b)
{
    QImage image(channelbadges::badgeSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    const QRectF frame = QRectF(image.rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath outline;
    outline.addRoundedRect(frame, 4, 4);
    painter.fillPath(outline, QColor::fromRgba(b.colour));
    painter.setPen(QPen(QColor(255, 255, 255, 90), 1));
    painter.drawPath(outline);

    // The largest bold size up to 11 pixels at which the name fits.
    const QString label = QString::fromUtf8(b.label);
    QFont font;
    font.setBold(true);
    const qreal room = image.width() - 4;
    for (int px = 11; px >= 7; --px) {
        font.setPixelSize(px);
        if (QFontMetricsF(font).horizontalAdvance(label) <= room)
            break;
    }
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRectF(image.rect()), Qt::AlignCenter, label);
    return image;
}

const QHash<QString, QImage> &badgeImages()
{
    static const QHash<QString, QImage> images = [] {
        QHash<QString, QImage> all;
        for (const Badge &b : badges)
            all.insert(QString::fromUtf8(b.key), drawBadge(b));
        return all;
    }();
    return images;
}

const QImage &blankImage()
{
    static const QImage blank = [] {
        QImage image(channelbadges::blankSize, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        return image;
    }();
    return blank;
}

} // namespace

QStringList channelbadges::keys()
{
    QStringList all;
    for (const Badge &b : badges)
        all << QString::fromUtf8(b.key);
    return all;
}

QImage channelbadges::badge(const QString &key)
{
    const auto it = badgeImages().constFind(key);
    return it != badgeImages().constEnd() ? *it : blankImage();
}

QVariant channelPicture(const QString &key)
{
    return QVariant(channelbadges::badge(key));
}
