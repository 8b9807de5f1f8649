#include "app/Fade.h"

#include <gtest/gtest.h>

TEST(Fade, FromFullOpacityTheSeventhStepCloses)
{
    float opacity = 1.0f;
    for (int tick = 1; tick <= 5; ++tick) {
        ASSERT_FALSE(fadeStep(opacity)) << tick;
        ASSERT_GT(opacity, 0.0f) << tick;
    }
    // Single-precision rounding leaves a little above zero after five steps.
    EXPECT_LT(opacity, 0.001f);
    EXPECT_FALSE(fadeStep(opacity));
    EXPECT_LT(opacity, 0.0f);
    EXPECT_TRUE(fadeStep(opacity));
}

TEST(Fade, AZeroOpacityClosesAtOnce)
{
    float opacity = 0.0f;
    EXPECT_TRUE(fadeStep(opacity));
}
