#include "base/StatusLog.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <gtest/gtest.h>
#include <thread>

namespace
{

void processUntil(const std::function<bool()> &done)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

TEST(StatusLog, SeveralCallsBuildOneLineAndAWorkersReplacementLandsBetweenItsAppends)
{
    StatusLog log;
    QStringList seen;
    QObject::connect(&log, &StatusLog::appended, [&](const QString &t) { seen << t; });
    for (const char *part : { "Uploading: ", "20261205.tgd", "...", "Done\n" })
        log.printStatus(part);
    EXPECT_EQ(log.text(), "Uploading: 20261205.tgd...Done\n");
    EXPECT_EQ(seen.size(), 4);
    std::thread worker([&log] {
        log.setText("");
        log.printStatus("Downloading...\n");
    });
    worker.join();
    processUntil([&] { return log.text().startsWith("Downloading"); });
    EXPECT_EQ(log.text(), "Downloading...\n");
}

} // namespace
