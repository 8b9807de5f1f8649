#pragma once

// A real FTP server (Debian's pyftpdlib) on 127.0.0.1 at a free port, with one account
// whose home is `root`. Runs for the life of the object. With `logins`, each USER and PASS
// command it receives appends "USER" or "PASS" as a line to that file.

#include <QProcess>
#include <QString>

class PyFtpServer
{
public:
    PyFtpServer(const QString &script, const QString &root, const QString &user,
        const QString &password, const QString &logins = QString())
    {
        process_.setProcessChannelMode(QProcess::SeparateChannels);
        process_.setStandardErrorFile(QProcess::nullDevice());
        QStringList arguments { script, root, user, password };
        if (!logins.isEmpty())
            arguments << logins;
        process_.start(QStringLiteral("/usr/bin/python3"), arguments);
        if (!process_.waitForStarted(10000))
            return;
        while (!process_.canReadLine() && process_.waitForReadyRead(10000)) { }
        port_ = process_.readLine().trimmed().toInt();
    }
    ~PyFtpServer()
    {
        process_.kill();
        process_.waitForFinished(5000);
    }
    PyFtpServer(const PyFtpServer &) = delete;
    PyFtpServer &operator=(const PyFtpServer &) = delete;

    // 0 when the server did not come up.
    int port() const { return port_; }

private:
    QProcess process_;
    int port_ = 0;
};
