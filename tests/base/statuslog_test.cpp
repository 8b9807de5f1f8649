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

// A line of its own breaks a line still waiting for its end, as the text stands when the
// line's turn comes, after what a worker asked for before it.
TEST(StatusLog, ALineOfItsOwnBreaksTheLineItInterrupts)
{
    const struct {
        QString before;
        QString after;
    } cases[] = {
        { "", "Busy.\n" },
        { "Uploading: a.tgd...", "Uploading: a.tgd...\nBusy.\n" },
        { "Uploading: a.tgd...Done\n", "Uploading: a.tgd...Done\nBusy.\n" },
    };
    for (const auto &c : cases) {
        StatusLog log;
        std::thread worker([&log, &c] { log.printStatus(c.before); });
        worker.join();
        log.printLine("Busy.");
        EXPECT_EQ(log.text(), c.after) << c.before.toStdString();
    }
}

} // namespace
