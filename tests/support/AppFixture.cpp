#include "support/AppFixture.h"

#include "base/Paths.h"
#include "base/Settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTcpSocket>

void RecordingCollaborators::setFetchButton(bool enabled, const QString &title)
{
    calls << QStringLiteral("fetch %1 %2").arg(enabled ? "on" : "off", title);
}

void RecordingCollaborators::setUploadEnabled(bool enabled)
{
    calls << QStringLiteral("upload %1").arg(enabled ? "on" : "off");
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

QStringList AppFixture::outputFiles(const QStringList &filters) const
{
    return QDir(out()).entryList(filters, QDir::Files | QDir::Hidden, QDir::Name);
}

StallingServer::StallingServer()
{
    server_.listen(QHostAddress::LocalHost);
}

QString StallingServer::host() const
{
    return QStringLiteral("127.0.0.1:%1").arg(server_.serverPort());
}

bool StallingServer::waitForRequest()
{
    if (!server_.waitForNewConnection(10000))
        return false;
    request_ = server_.nextPendingConnection();
    return request_;
}

void StallingServer::answer(const QByteArray &body)
{
    request_->write("HTTP/1.0 200 OK\r\nContent-Length: " + QByteArray::number(body.size())
        + "\r\n\r\n" + body);
    request_->waitForBytesWritten(2000);
    request_->disconnectFromHost();
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
