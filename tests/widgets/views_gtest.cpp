#include "guide/XMLToEPG.h"
#include "widgets/ChannelBadges.h"
#include "widgets/RoundedBox.h"
#include "widgets/TransparentWindow.h"

#include <QImage>
#include <QLabel>
#include <QSet>
#include <QVBoxLayout>
#include <functional>
#include <gtest/gtest.h>

namespace
{

// Geometry is y up: the body (1, 1, w, 98) has its top at 99, a 14-high title sits at 84.
struct TitleCase {
    const char *name;
    qreal bodyWidth;
    qreal titleWidth;
    bool drawsFullTitleBar;
    QRectF bounds; // the path's bounding rectangle
    bool roundTopRight; // a full bar rounds it, a tab keeps it square
    bool roundLowerRight; // a tab rounds it, a full bar keeps it square
};

class TitlePath : public ::testing::TestWithParam<TitleCase>
{
};

TEST_P(TitlePath, Geometry)
{
    const TitleCase &c = GetParam();
    const QRectF body(1, 1, c.bodyWidth, 98);
    const QPainterPath path
        = RoundedBox::titlePath(body, 4.0, QRectF(6, 84, c.titleWidth, 14), c.drawsFullTitleBar);
    EXPECT_EQ(path.boundingRect(), c.bounds);
    const QRectF &b = c.bounds;
    const qreal right = b.x() + b.width(), top = b.y() + b.height();
    auto inCorner = [&path](qreal x, qreal y) { return path.contains(QPointF(x, y)); };
    EXPECT_FALSE(inCorner(b.x() + 0.5, top - 0.5)) << "top left is always rounded";
    EXPECT_EQ(inCorner(right - 0.5, top - 0.5), !c.roundTopRight);
    EXPECT_EQ(inCorner(right - 0.5, b.y() + 0.5), !c.roundLowerRight);
    EXPECT_TRUE(inCorner(b.x() + 0.5, b.y() + 0.5)) << "lower left is always square";
}

// The gap of 1 above the title is repeated below it (bottom 83); the tab reaches the title's
// left inset of 5 beyond its end (1 + 60 + 10 = 71).
INSTANTIATE_TEST_SUITE_P(RoundedBox, TitlePath,
    ::testing::Values(TitleCase { "Tab", 198, 60, false, QRectF(1, 83, 70, 16), false, true },
        TitleCase { "FullBar", 198, 60, true, QRectF(1, 83, 198, 16), true, false },
        TitleCase {
            "BodyLessThan20WiderThanTitle", 79.5, 60, false, QRectF(1, 83, 79.5, 16), true, false },
        TitleCase { "Body20WiderThanTitle", 80, 60, false, QRectF(1, 83, 70, 16), false, true }),
    [](const auto &info) { return std::string(info.param.name); });

TEST(RoundedBox, ALongTitleIsCutToTheBoxLess12)
{
    RoundedBox box(QStringLiteral("A title far wider than the narrow box it is given"));
    const QRectF title = box.titleRect(QSizeF(60, 40));
    EXPECT_EQ(title.x(), 6);
    EXPECT_EQ(title.width(), 48);
}

TEST(RoundedBox, LaysItsChildrenOutBelowTheTitleInsideTheBorder)
{
    RoundedBox box(QStringLiteral("Status"));
    auto *layout = new QVBoxLayout(&box);
    auto *child = new QLabel(QStringLiteral("Fetching"));
    layout->addWidget(child);
    box.resize(200, 120);
    layout->activate();
    // The title bar's lowest point, turned from y up into the widget's y down.
    const QRectF bar = RoundedBox::titlePath(
        RoundedBox::bodyRect(box.size(), box.borderWidth()), 4.0, box.titleRect(box.size()), true)
                           .boundingRect();
    const QRect inside = child->geometry();
    EXPECT_GE(inside.top(), 120 - bar.y());
    EXPECT_GE(inside.left(), box.borderWidth());
    EXPECT_LE(inside.right(), 200 - box.borderWidth());
    EXPECT_LE(inside.bottom(), 120 - box.borderWidth());
}

struct PixelCase {
    const char *name;
    std::function<void(RoundedBox &)> setUp;
    std::function<QPoint(const RoundedBox &)> where;
    std::function<QColor(const RoundedBox &)> expected;
    int tolerance;
};

class BoxPixels : public ::testing::TestWithParam<PixelCase>
{
};

TEST_P(BoxPixels, Colour)
{
    const PixelCase &c = GetParam();
    RoundedBox box(QStringLiteral("Guide days"));
    box.resize(200, 400);
    c.setUp(box);
    const QImage image = box.grab().toImage();
    const QPoint at = c.where(box);
    const QColor got = image.pixelColor(at), want = c.expected(box);
    EXPECT_NEAR(got.red(), want.red(), c.tolerance) << at.x() << "," << at.y();
    EXPECT_NEAR(got.green(), want.green(), c.tolerance);
    EXPECT_NEAR(got.blue(), want.blue(), c.tolerance);
}

const auto noChange = [](RoundedBox &) {};
const auto belowTitle = [](const RoundedBox &b) { return QPoint(100, b.contentsMargins().top()); };
const auto nearBottom = [](const RoundedBox &) { return QPoint(100, 396); };
const auto middle = [](const RoundedBox &) { return QPoint(100, 200); };
const auto titleBar = [](const RoundedBox &) { return QPoint(3, 8); };
const auto bottomBorder = [](const RoundedBox &) { return QPoint(100, 399); };
const auto select = [](RoundedBox &b) { b.setSelected(true); };

INSTANTIATE_TEST_SUITE_P(RoundedBox, BoxPixels,
    ::testing::Values(PixelCase { "GradientEndAtTheTop", noChange, belowTitle,
                          [](const RoundedBox &b) { return b.gradientEndColor(); }, 3 },
        PixelCase { "GradientStartAtTheBottom", noChange, nearBottom,
            [](const RoundedBox &b) { return b.gradientStartColor(); }, 3 },
        PixelCase { "OwnGradientColours",
            [](RoundedBox &b) {
                b.setGradientStartColor(Qt::blue);
                b.setGradientEndColor(Qt::red);
            },
            belowTitle, [](const RoundedBox &) { return QColor(Qt::red); }, 24 },
        PixelCase { "BackgroundIgnoredWhileTheGradientShows",
            [](RoundedBox &b) { b.setBackgroundColor(Qt::red); }, middle,
            [](const RoundedBox &) { return QColor::fromRgbF(0.87f, 0.87f, 0.87f); }, 3 },
        PixelCase { "BackgroundWithoutGradient",
            [](RoundedBox &b) {
                b.setBackgroundColor(Qt::red);
                b.setDrawsGradientBackground(false);
            },
            middle, [](const RoundedBox &) { return QColor(Qt::red); }, 0 },
        PixelCase { "TitleBarInBorderColour", noChange, titleBar,
            [](const RoundedBox &b) { return b.borderColor(); }, 0 },
        PixelCase { "BorderInBorderColour", noChange, bottomBorder,
            [](const RoundedBox &b) { return b.borderColor(); }, 0 },
        PixelCase { "SelectedTitleBar", select, titleBar,
            [](const RoundedBox &b) { return b.selectionColor(); }, 0 },
        PixelCase { "SelectedBorder", select, bottomBorder,
            [](const RoundedBox &b) { return b.selectionColor(); }, 0 }),
    [](const auto &info) { return std::string(info.param.name); });

TEST(RoundedView, FillsARoundedTranslucentRectangle)
{
    RoundedView view;
    view.resize(200, 100);
    QImage image(view.size(), QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    view.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    const int alpha = qRound(0.35 * 255);
    EXPECT_NEAR(image.pixelColor(100, 50).alpha(), alpha, 1);
    EXPECT_NEAR(image.pixelColor(100, 0).alpha(), alpha, 1);
    for (const QPoint corner : { QPoint(1, 1), QPoint(198, 1), QPoint(1, 98), QPoint(198, 98) })
        EXPECT_EQ(image.pixelColor(corner).alpha(), 0) << corner.x() << "," << corner.y();
}

bool isBlank(const QImage &image)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixelColor(x, y).alpha() != 0)
                return false;
    return true;
}

TEST(ChannelBadges, EveryMappedChannelHasItsOwnBadge)
{
    // The outcome names map to themselves; the rest are identifiers the provider uses.
    const char *identifiers[] = { "Nine", "NBN/WIN", "Seven", "Prime", "Southern Cross", "TDT",
        "SC10", "TEN", "ABC2", "ABC", "SBS News", "Channel 31", "SBS", "WIN", "NBN", "10Cap",
        "10Nth", "PrimS", "PrimN", "SBSD", "31" };
    QHash<QString, QImage> byKey;
    for (const char *identifier : identifiers) {
        const QString key = XMLToEPG::fixChannel(QString::fromLatin1(identifier)).second;
        const QVariant picture = channelPicture(key);
        ASSERT_TRUE(picture.canConvert<QImage>()) << identifier;
        const QImage image = picture.value<QImage>();
        EXPECT_EQ(image.size(), channelbadges::badgeSize) << identifier;
        EXPECT_FALSE(isBlank(image)) << identifier;
        byKey.insert(key, image);
    }
    const QStringList badged = channelbadges::keys();
    EXPECT_EQ(QSet<QString>(byKey.keyBegin(), byKey.keyEnd()),
        QSet<QString>(badged.begin(), badged.end()));
    for (auto a = byKey.cbegin(); a != byKey.cend(); ++a)
        for (auto b = std::next(a); b != byKey.cend(); ++b)
            EXPECT_NE(a.value(), b.value())
                << a.key().toStdString() << " " << b.key().toStdString();
}

TEST(ChannelBadges, OtherKeysGetABlankPicture)
{
    for (const char *key : { "", "BBC One", "99", "6" }) {
        const QImage image = channelPicture(QString::fromLatin1(key)).value<QImage>();
        EXPECT_EQ(image.size(), channelbadges::blankSize) << key;
        EXPECT_TRUE(isBlank(image)) << key;
    }
}

} // namespace
