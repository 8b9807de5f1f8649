#include "base/TerminationSignals.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <csignal>
#include <gtest/gtest.h>

namespace
{

void processUntil(const std::function<bool()> &done, int ms = 5000)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

// A logout's SIGTERM ends the program through its own quit, from the event loop; a
// second signal while it quits neither quits twice nor kills it.
TEST(TerminationSignals, EndThroughTheProgramsOwnQuitOnce)
{
    int quits = 0;
    quitOnTerminationSignals([&quits] { ++quits; });
    std::raise(SIGTERM);
    EXPECT_EQ(quits, 0); // not from inside the handler
    processUntil([&] { return quits > 0; });
    EXPECT_EQ(quits, 1);
    std::raise(SIGINT);
    std::raise(SIGHUP);
    processUntil([] { return false; }, 300);
    EXPECT_EQ(quits, 1);
}

} // namespace
