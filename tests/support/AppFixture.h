#pragma once

#include "app/EPGController.h"
#include "base/StatusLog.h"
#include "support/TempHome.h"
#include "ui/SourceListController.h"

#include <QProcess>
#include <QStringList>
#include <optional>

// One recording double for every seam of the application controller: each call, the beep
// included, appends a line to `calls`, so a test sees the order of everything it did.
class RecordingCollaborators : public KeywordStore,
                               public AutoRunScheduler,
                               public GridPages,
                               public FetchButtons {
public:
    void writeOutData() override { calls << "writeOutData"; }
    bool reloadData(const QString &mode) override
    {
        calls << "reloadData " + mode;
        return true;
    }
    void setAutoRun(bool on) override { calls << QString("setAutoRun %1").arg(on); }
    void loadPages() override { calls << "loadPages"; }
    void setFetchButton(bool enabled, const QString &title) override;
    void setUploadButton(bool enabled, const QString &title) override;
    QStringList calls;
};

// The day list as a fetch shows it: the progress of every placeholder row ("Loading...",
// no programmes, dated `placeholderDate`) and the rows shown last.
class PlaceholderView : public DayListView {
public:
    explicit PlaceholderView(std::optional<QString> placeholderDate = std::nullopt)
        : placeholderDate_(std::move(placeholderDate)) { }
    void showRows(const GuideDayRows &rows) override;
    QList<double> progress;
    GuideDayRows last;

private:
    std::optional<QString> placeholderDate_;
};

// The buttons' calls as a fetch starts and ends.
inline const QStringList kButtonsOff = { "fetch off Downloading...", "upload off Upload" };
inline const QStringList kButtonsOn = { "fetch on Fetch", "upload on Upload" };
// The same as an upload starts and ends.
inline const QStringList kUploadButtonsOff = { "fetch off Fetch", "upload on Stop" };
inline const QStringList kUploadButtonsOn = { "fetch on Fetch", "upload on Upload" };

// The application controller in a fresh home, wired to a source list and the double.
// Start-up (awakeFromNib) is left to the test.
class AppFixture {
public:
    AppFixture();
    ~AppFixture();
    QString out() const;
    // Runs one fetch to its end (at most `timeoutMs`); answers what fetchFinished said.
    bool fetch(int timeoutMs = 60000);
    // Runs one upload to its end the same way; false also when it was refused.
    bool upload(int timeoutMs = 60000);
    // The names in the output folder matching `filters`, sorted.
    QStringList outputFiles(const QStringList &filters = {}) const;

    TempHome home;
    SystemLogCapture syslog;
    StatusLog log;
    SourceListController slc;
    RecordingCollaborators rec;
    EPGController controller { &log };
};

// The sample provider (scripts/sample-server) on a free loopback port, serving `folder`.
class SampleServer {
public:
    explicit SampleServer(const QString &folder);
    ~SampleServer();
    // "127.0.0.1:PORT", the form of the "providerHost" setting.
    QString host() const;
    QString url(const QString &name) const { return "http://" + host() + "/" + name; }

private:
    QProcess server_;
    int port_ = 0;
};

// Writes the sample guide's archive tree into `folder`, from today (the test's clock) unless
// `extra` names a "--today"; extra arguments go to the generator.
void makeSample(const QString &folder, const QStringList &extra = {});

// A real guide's text with every start and stop date moved by the days from `from` to `to`.
QByteArray guideMovedTo(const QString &path, const QDate &from, const QDate &to);

// Runs the event loop for `ms` milliseconds.
void processFor(int ms);

// How a program run by runServing ended (status -1: it crashed or was stopped).
struct Ran {
    int status = -1;
    QString out, err;
};
// Runs a program to its end (at most two minutes) while this process goes on answering
// on the bus; `environment` ("NAME=value") is added to its own.
Ran runServing(
    const QString &program, const QStringList &arguments, const QStringList &environment = {});
