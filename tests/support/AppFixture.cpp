#include "support/AppFixture.h"

#include "base/Clock.h"
#include "base/Paths.h"
#include "base/Settings.h"
#include "support/FixedClock.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QRegularExpression>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>

void RecordingCollaborators::setFetchButton(bool enabled, const QString &title)
{
    calls << QStringLiteral("fetch %1 %2").arg(enabled ? "on" : "off", title);
}

void RecordingCollaborators::setUploadButton(bool enabled, const QString &title)
{
    calls << QStringLiteral("upload %1 %2").arg(enabled ? "on" : "off", title);
}

void PlaceholderView::showRows(const GuideDayRows &rows)
{
    if (rows.size() == 1 && rows.front()->file == "Loading...") {
        EXPECT_EQ(rows.front()->date, placeholderDate_);
        EXPECT_EQ(rows.front()->fileCount, 0);
        progress << rows.front()->downloaded.toDouble();
    }
    last = rows;
}

AppFixture::AppFixture()
{
    Settings::registerDefaults();
    controller.setSourceList(&slc);
    controller.setKeywordStore(&rec);
    controller.setScheduler(&rec);
    controller.setGridPages(&rec);
    controller.setFetchButtons(&rec);
    controller.setBeep([this] { rec.calls << "beep"; });
}

AppFixture::~AppFixture()
{
    Paths::setProgramFolder(QString());
}

QString AppFixture::out() const
{
    return Paths::outputFolder();
}

namespace
{
// Starts a job and runs the event loop until `finished` says how it ended (false also when
// it did not start, or did not end within timeoutMs).
bool runToEnd(EPGController &controller, void (EPGController::*finished)(bool),
    const std::function<bool()> &start, int timeoutMs, const char *job)
{
    QEventLoop loop;
    bool result = false;
    bool ended = false;
    QObject::connect(&controller, finished, &loop, [&](bool ok) {
        result = ok;
        ended = true;
        loop.quit();
    });
    if (!start())
        return false;
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_TRUE(ended) << "the " << job << " did not end";
    return result;
}
} // namespace

bool AppFixture::fetch(int timeoutMs)
{
    return runToEnd(
        controller, &EPGController::fetchFinished, [this] { return controller.fetchEPG(); },
        timeoutMs, "fetch");
}

bool AppFixture::upload(int timeoutMs)
{
    return runToEnd(
        controller, &EPGController::uploadFinished, [this] { return controller.uploadEPG(); },
        timeoutMs, "upload");
}

QStringList AppFixture::outputFiles(const QStringList &filters) const
{
    return QDir(out()).entryList(filters, QDir::Files | QDir::Hidden, QDir::Name);
}

SampleServer::SampleServer(const QString &folder)
{
    server_.start(QStringLiteral("/usr/bin/python3"),
        { QStringLiteral(PALLARO_SOURCE_DIR "/scripts/sample-server"), folder });
    server_.waitForStarted();
    while (server_.state() == QProcess::Running && !server_.canReadLine())
        server_.waitForReadyRead(5000);
    port_ = server_.readLine().trimmed().toInt();
}

SampleServer::~SampleServer()
{
    server_.kill();
    server_.waitForFinished();
}

QString SampleServer::host() const
{
    return QStringLiteral("127.0.0.1:%1").arg(port_);
}

void processFor(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

void makeSample(const QString &folder, const QStringList &extra)
{
    QStringList arguments { QStringLiteral(PALLARO_SOURCE_DIR "/scripts/sample-guide"), folder };
    if (!extra.contains(QStringLiteral("--today")))
        arguments << QStringLiteral("--today") << Clock::today().toString(Qt::ISODate);
    QProcess p;
    p.start(QStringLiteral("/usr/bin/python3"), arguments + extra);
    ASSERT_TRUE(p.waitForFinished(60000));
    ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
}

QByteArray guideMovedTo(const QString &path, const QDate &from, const QDate &to)
{
    const QString text = QString::fromUtf8(readFile(path));
    static const QRegularExpression time(QStringLiteral("(start|stop)=\"(\\d{8})"));
    QString moved;
    qsizetype at = 0;
    for (const QRegularExpressionMatch &m : time.globalMatch(text)) {
        moved += text.mid(at, m.capturedStart(2) - at)
            + QDate::fromString(m.captured(2), QStringLiteral("yyyyMMdd"))
                  .addDays(from.daysTo(to))
                  .toString(QStringLiteral("yyyyMMdd"));
        at = m.capturedEnd(2);
    }
    return (moved + text.mid(at)).toUtf8();
}

Ran runServing(const QString &program, const QStringList &arguments, const QStringList &environment)
{
    QProcess p;
    useFixedClock(p, environment);
    p.start(program, arguments);
    EXPECT_TRUE(p.waitForStarted());
    QElapsedTimer t;
    t.start();
    while (p.state() != QProcess::NotRunning && t.elapsed() < 120000)
        processFor(20);
    Ran r;
    if (p.state() != QProcess::NotRunning) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}
