#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <optional>

class EPGController;
class QTextStream;

// The two commands a running window answers for other programs, on the session bus:
// service and interface "org.pallaro.Pallaro", object "/org/pallaro/Pallaro".
class ScriptCommands : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.pallaro.Pallaro")
    Q_PROPERTY(bool Fetching READ fetching SCRIPTABLE true)
public:
    static const QString service;
    static const QString path;

    explicit ScriptCommands(EPGController *controller, QObject *parent = nullptr);

    // Claims the service name and exports the commands. Answers why not when another
    // window holds the name (empty otherwise); the other failures, no session bus among
    // them, go to the system log only.
    QString registerOn(QDBusConnection bus = QDBusConnection::sessionBus());

    bool fetching() const;

public Q_SLOTS:
    // Starts a fetch and answers at once; FetchFinished tells how it ended.
    Q_SCRIPTABLE bool DownloadGuide();
    // Uploads and answers when the upload has ended: whether it succeeded.
    Q_SCRIPTABLE bool UploadGuide();

Q_SIGNALS:
    Q_SCRIPTABLE void FetchFinished(bool ok);

private:
    EPGController *controller_;
};

// `pallaro --download` / `--upload` without --headless: hands the commands to the window
// that holds the service, waiting for the fetch to finish before asking for the upload.
// Answers the exit status, or nothing when no window is there to take them.
std::optional<int> forwardToWindow(bool download, bool upload, QTextStream &out, QTextStream &err);
