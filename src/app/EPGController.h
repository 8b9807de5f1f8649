#pragma once

#include "app/Collaborators.h"
#include "app/GuideUpload.h"
#include "app/RunRecords.h"
#include "base/UiQueue.h"

#include <QDate>
#include <QObject>
#include <QString>
#include <QUrl>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>

class SourceListController;
class StatusLog;
class QProcess;

// The application controller: start-up, settings, data folders and the StatusLog.
// Widget-free; the window (or the headless runner) owns it and supplies the collaborators.
class EPGController : public QObject
{
    Q_OBJECT
public:
    explicit EPGController(StatusLog *log, QObject *parent = nullptr);
    // Stops a running fetch first (stopFetch).
    ~EPGController() override;

    void setKeywordStore(KeywordStore *kwc) { kwc_ = kwc; }
    void setGridPages(GridPages *gc) { gc_ = gc; }
    void setScheduler(AutoRunScheduler *scheduler) { scheduler_ = scheduler; }
    void setSourceList(SourceListController *slc) { slc_ = slc; }
    SourceListController *sourceList() const { return slc_; }

    // Start-up work that needs no window: settings defaults, the ApplicationSupportFolder
    // with "output" and "channels", the resource copies, the grid pages. UI thread.
    void awakeFromNib();

    // Copies file from the folder `from` (ending in "/") into the folder `to` when `to`
    // lacks it. Never overwrites; failures are ignored. Answers whether a copy was made.
    static bool copyFile(const QString &file, const QString &from, const QString &to);

    // Appends to the StatusLog; adds no line break. Any thread.
    void printStatus(const QString &text);

    // Preferences dialog closed: flush the store and apply "autoRun".
    void closePrefsSheet();
    void setAutoRun(bool on);

    // Last chance to save: stops a running fetch, then the record marks reach the day files.
    void applicationWillTerminate();

    // Output folder. Scans it into the guide-day list, deleting the files of days before
    // `today` (local date) with their ".html" and ".xml" companions; carries the
    // programme counts over by "date". Any thread.
    void loadExistingTGDs();
    void loadExistingTGDs(const QDate &today);
    // Empties the output folder but for the grid support files, and the scripts'
    // "cache" and "database" folders; reloads without saving; empties the list. UI thread.
    void deleteCache();
    // "20261205.tgd" → "05122026".
    static QString unFlipDate(const QString &rawDate);
    // "05122026" → "2026 - 12 - 05".
    static QString fileNameFromDateString(const QString &date);

    // Who runs the fetches and uploads, for their records: "window", "headless" or "timer".
    void setRunner(const QString &by) { runner_ = by; }
    // The outcome of the last fetch or upload this controller ran (time invalid: none).
    // The fetch's is complete once fetchFinished has been emitted.
    RunOutcome lastOutcome(RunRecords::Job job) const;

    // Upload. Writes out the marks, empties the transcript, rescans the output folder and
    // starts sending every guide day in list order over USB ("connectionMethod" "USB") or
    // by FTP on the upload's worker; answers at once. Refused, with a StatusLog line and
    // false, while a fetch or another upload runs. uploadFinished tells how it ended: false
    // when the recorder could not be opened, a file failed, the count check did not say
    // "Correct!", or it was stopped. UI thread.
    bool uploadEPG();
    // Asks a running upload to stop before its next file; answers at once. UI thread.
    void stopUpload();
    bool isUploading() const;
    GuideUpload &upload() { return upload_; }
    // The StatusLog line of the last fetch or upload refused, without its line end.
    QString lastRefusal() const { return lastRefusal_; }

    // Fetch. fetchEPG disables the buttons, empties the transcript and starts the worker for
    // the setting "provider"; it returns at once, and does nothing while a fetch runs. While
    // an upload runs it is refused with a StatusLog line and answers false. UI thread.
    void setFetchButtons(FetchButtons *buttons) { buttons_ = buttons; }
    // The system beep at the end of a fetch or an upload; the window sets it (the core has
    // no QApplication). Carried out on the UI thread.
    void setBeep(std::function<void()> beep) { beep_ = std::move(beep); }
    bool fetchEPG();
    // Asks a running fetch to stop and waits for it. The download and the unpacking stop at
    // once, leaving no part of a file behind; a conversion that has begun finishes with
    // its rescan, so the day files and the programmes in memory agree. UI thread.
    void stopFetch();
    // The web-provider fetch: download, unpack the guide, convert, grid previews, rescan.
    // Worker body.
    void fetchDataKR();
    // The script-based fetch: write-out, the grabber "getdat.php" with its output read by
    // copyDataUK, the converter "dat2tgd.pl", rescan. Worker body.
    void fetchDataUK();
    // Shows the grabber's progress from its output until it exits (or the fetch is
    // stopped); answers whether it succeeded.
    bool copyDataUK(QProcess &grabber);
    // Region name → the provider's location key ("Northern NSW (South)" → "NorthernNSW").
    static QString fixLocationForKR(const QString &location);
    // "http://" + host + the provider's archive path + key + ".zip".
    static QString archiveURL(const QString &provider, const QString &host,
                              const QString &location);
    // The shell command that makes one day's grid page: every path quoted for the shell.
    static QString gridCommand(const QString &scriptPath, const QString &relativeXml);
    static QString shellQuote(const QString &text);
    QString logString() const { return logString_; }
    bool isFetching() const { return fetchRunning_; }
    // Limits of the web-provider fetch: seconds without a byte before a download counts as
    // stalled, and the largest guide taken out of an archive.
    void setStallSeconds(long seconds) { stallSeconds_ = seconds; }
    void setMaxGuideBytes(qint64 bytes) { maxGuideBytes_ = bytes; }

Q_SIGNALS:
    // A fetch worker has ended, after the buttons came back; succeeded when day files
    // were written. Emitted on the UI thread.
    void fetchFinished(bool succeeded);
    // An upload has ended, after its record was written and the buttons came back.
    // Emitted on the UI thread.
    void uploadFinished(bool succeeded);

public:
    StatusLog *statusLog() const { return log_; }
    QString currentOutputFolder() const { return currentOutputFolder_; }

private:
    void setButtonsForFetch(bool running);
    // `cause`: the line for the fetch's record. Not `fetched`: the day files came from the
    // archive of an earlier fetch, nothing new came, and the record says the fetch failed
    // (so that the daily run tries again).
    void endFetch(bool succeeded, const QString &cause, bool fetched = true);
    static QString stoppedCause() { return QStringLiteral("Stopped before the end"); }
    // Keeps the outcome and writes its record to the data folder. Any thread.
    void record(RunRecords::Job job, bool ok, const QString &cause);
    // The upload's end on the UI thread: the buttons back, the beep, uploadFinished.
    void endUpload(const GuideUpload::Result &result);
    void setButtonsForUpload(bool running);
    // Prints `line` on a line of its own as the reason a request was refused; answers false.
    bool refuse(const QString &line);
    // A fetch's end: the day files on disk into the list, the programmes reloaded, a beep.
    // Answers false when the marks could not be written back to a day file.
    bool rescanAndReload();
    // Start-up: removes what writers killed mid-write left in the output folder.
    void removeInterruptedWrites();

    StatusLog *log_;
    UiQueue ui_{this};
    FetchButtons *buttons_ = nullptr;
    std::function<void()> beep_;
    QString logString_;
    // Longest wait for the grid processes at the end of a fetch.
    static constexpr int gridPauseMs_ = 12000;
    long stallSeconds_ = 30;
    qint64 maxGuideBytes_ = qint64(1) << 30;
    QString currentOutputFolder_;
    KeywordStore *kwc_ = nullptr;
    GridPages *gc_ = nullptr;
    AutoRunScheduler *scheduler_ = nullptr;
    SourceListController *slc_ = nullptr;
    GuideUpload upload_ { log_ };
    QString lastRefusal_;
    QString runner_ = QStringLiteral("window");
    RunOutcome lastFetch_, lastUpload_;
    std::thread fetchWorker_;
    std::atomic<bool> fetchRunning_ = false;
    std::atomic<bool> fetchStop_ = false;
};
