#include "app/Fade.h"

#include <gtest/gtest.h>

TEST(Fade, FullOpacityClosesOnTheSeventhStepAndNoneAtOnce)
{
    float opacity = 1.0f;
    int steps = 1;
    for (; steps < 20 && !fadeStep(opacity); ++steps) { }
    EXPECT_EQ(steps, 7) << "single-precision rounding leaves a sliver above zero after five";
    float none = 0.0f;
    EXPECT_TRUE(fadeStep(none));
}
