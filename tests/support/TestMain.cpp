#include "support/FixedClock.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    const FixedClock clock(FixedClock::suiteInstant());
    return RUN_ALL_TESTS();
}
