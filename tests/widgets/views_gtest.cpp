#include "guide/XMLToEPG.h"
#include "widgets/ChannelBadges.h"
#include "widgets/RoundedBox.h"

#include <QImage>
#include <QSet>
#include <functional>
#include <gtest/gtest.h>

namespace
{

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
        PixelCase { "BackgroundWithoutGradient",
            [](RoundedBox &b) {
                b.setBackgroundColor(Qt::red);
                b.setDrawsGradientBackground(false);
            },
            middle, [](const RoundedBox &) { return QColor(Qt::red); }, 0 },
        PixelCase { "BorderInBorderColour", noChange, bottomBorder,
            [](const RoundedBox &b) { return b.borderColor(); }, 0 },
        PixelCase { "SelectedTitleBar", select, titleBar,
            [](const RoundedBox &b) { return b.selectionColor(); }, 0 }),
    [](const auto &info) { return std::string(info.param.name); });

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
