#pragma once

#include "base/UiQueue.h"
#include "device/PublishPicture.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

class StatusLog;

// The upload of the guide days to the recorder over USB, or to the FTP server, on a worker
// thread of its own: one upload at a time, stopped between files on request. What it does
// goes to the StatusLog, line by line, as it happens.
class GuideUpload : public QObject
{
    Q_OBJECT
public:
    // What one upload sends, read on the UI thread before the worker starts.
    struct Plan {
        QString folder; // the output folder, ending in "/"
        QStringList files; // the day files ("20261206.tgd"), in list order
        bool usb = true; // "connectionMethod" "USB"; else FTP
        QString recorderFolder; // as recorderFolder() answers
        QString ftpURL; // the "FTP URL" setting
    };
    // The plan for `files` in `folder` from the settings. Any thread.
    static Plan plan(const QString &folder, const QStringList &files);

    // How an upload ended. `cause`: the line for its record. `beep`: the upload ran its
    // course (no beep when the recorder could not be opened or was lost, or when stopped).
    struct Result {
        bool ok = false;
        QString cause;
        bool beep = false;
    };

    explicit GuideUpload(StatusLog *log, QObject *parent = nullptr);
    // Stops a running upload between files and waits for it.
    ~GuideUpload() override;

    // Starts the worker; answers false and does nothing while an upload runs. `record` is
    // called on the worker with the result before `finished`, so that the result is kept
    // even when the owner goes before the UI thread hears of it. UI thread.
    bool start(const Plan &plan, std::function<void(const Result &)> record);
    // True from start() until `finished` is emitted.
    bool isRunning() const { return running_; }
    // Asks a running upload to stop before its next file; answers at once. Any thread.
    void stop() { stop_ = true; }
    // Stops a running upload and waits for its end; `finished` is not emitted. UI thread.
    void stopAndWait();

    // "\" + "uploadFolder" joined by "\" + "\".
    static QString recorderFolder();
    // Sends a file by FTP. Set by whoever owns the FTP client; tests put a double there.
    using FtpPublisher
        = std::function<FtpOutcome(const QString &localPath, const QUrl &destination)>;
    void setFtpPublisher(FtpPublisher publisher) { ftpPublisher_ = std::move(publisher); }

    // One file by FTP: prints "Done" or "Failed" and, on failure, the line saying why.
    // Worker (or a test's thread).
    FtpOutcome uploadPath(const QString &path, const QUrl &destination);

Q_SIGNALS:
    // The upload has ended (after `record`); emitted on the UI thread.
    void finished(const GuideUpload::Result &result);

private:
    Result run(const Plan &plan);
    Result sendOverUsb(const Plan &plan);
    Result sendOverFtp(const Plan &plan);
    // Ends an upload early with one line: `lead`, how many files were not sent, `advice`.
    Result cutShort(const QString &lead, qsizetype notSent, const QString &advice);
    void print(const QString &text);

    StatusLog *log_;
    UiQueue ui_ { this };
    FtpPublisher ftpPublisher_;
    std::thread worker_;
    std::atomic<bool> running_ = false;
    std::atomic<bool> stop_ = false;
    std::uint64_t runs_ = 0; // UI thread only: tells a stale end from the current one
};
