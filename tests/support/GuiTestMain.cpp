#include "support/FixedClock.h"

#include <QApplication>
#include <gtest/gtest.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (geteuid() == 0)
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    const FixedClock clock(FixedClock::suiteInstant());
    return RUN_ALL_TESTS();
}
