#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QObject>
#include <QString>
#include <optional>

class EPGController;
class KeywordController;
class QTextStream;
struct MarkRequest;
struct TGDEntry;

// The two commands a running window answers for other programs, on the session bus:
// service and interface "org.pallaro.Pallaro", object "/org/pallaro/Pallaro".
class ScriptCommands : public QObject, protected QDBusContext
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
    // Where MarkProgramme's decisions go (the window's programmes).
    void setKeywordController(KeywordController *kwc) { kwc_ = kwc; }

public Q_SLOTS:
    // Starts a fetch and answers at once; FetchFinished tells how it ended. While an upload
    // runs: the error org.pallaro.Pallaro.Error.Busy with the StatusLog's line.
    Q_SCRIPTABLE bool DownloadGuide();
    // Starts an upload and, over the bus, answers when it has ended: whether it succeeded.
    // While a fetch or another upload runs: the Busy error, at once.
    Q_SCRIPTABLE bool UploadGuide();
    // The hand decision of `pallaro --mark` / `--unmark`, stored before the answer: the
    // programmes found, one markLine each (none found: an empty list).
    Q_SCRIPTABLE QStringList MarkProgramme(
        const QString &start, const QString &channel, bool record, int before, int after);

Q_SIGNALS:
    Q_SCRIPTABLE void FetchFinished(bool ok);

private:
    EPGController *controller_;
    KeywordController *kwc_ = nullptr;
};

// What --mark and --unmark print for a programme they decided: "rawStart<TAB>channel<TAB>
// title<TAB>record field".
QString markLine(const TGDEntry &entry);

// --mark / --unmark: hands the decision to the window that holds the service. Answers the
// exit status (0 found, 1 none, 2 the window failed), or nothing when no window is there.
std::optional<int> forwardMarkToWindow(const MarkRequest &request, QTextStream &out,
                                       QTextStream &err);

// `pallaro --download` / `--upload` without --headless: hands the commands to the window
// that holds the service, waiting for the fetch to finish before asking for the upload.
// Answers the exit status, or nothing when no window is there to take them.
std::optional<int> forwardToWindow(bool download, bool upload, QTextStream &out, QTextStream &err);
