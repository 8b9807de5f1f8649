#include "base/StatusLog.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <thread>

namespace {

void processUntil(const std::function<bool()> &done)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

TEST(StatusLog, AppendsFromTwoWorkersKeepEachThreadsOrderAndAddNoLineBreaks)
{
    StatusLog log;
    constexpr int kLines = 2000;
    auto worker = [&log](char name) {
        for (int i = 0; i < kLines; ++i)
            log.printStatus(QString("%1%2,").arg(name).arg(i));
    };
    std::thread a(worker, 'a');
    std::thread b(worker, 'b');
    // The UI thread keeps appending too; its own calls take effect at once.
    for (int i = 0; i < 100; ++i)
        log.printStatus(QString("u%1,").arg(i));
    a.join();
    b.join();
    processUntil([&] { return log.text().count(',') == 2 * kLines + 100; });

    const QString text = log.text();
    EXPECT_FALSE(text.contains('\n'));
    const QStringList parts = text.split(',', Qt::SkipEmptyParts);
    ASSERT_EQ(parts.size(), 2 * kLines + 100);
    int next[3] = {0, 0, 0};
    for (const QString &p : parts) {
        const int who = p.at(0) == 'a' ? 0 : p.at(0) == 'b' ? 1 : 2;
        ASSERT_EQ(p.mid(1).toInt(), next[who]) << p.toStdString();
        ++next[who];
    }
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
