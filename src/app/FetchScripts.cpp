#include "app/EPGController.h"
#include "base/DataFolderLock.h"
#include "app/GrabberProgress.h"
#include "base/Clock.h"
#include "base/Paths.h"
#include "base/Settings.h"
#include "base/StatusLog.h"
#include "base/SystemLog.h"
#include "ui/KeywordStore.h"
#include "ui/SourceListController.h"

#include <QDate>
#include <QDir>
#include <QProcess>

namespace {

const QString kPhp = QStringLiteral("/usr/bin/php");
const QString kPerl = QStringLiteral("/usr/bin/perl");

// Waits for a started script, killing it when `stop` becomes true. Answers success.
bool finish(QProcess &script, const std::atomic<bool> &stop,
            const std::function<void(const QByteArray &)> &output = {})
{
    for (;;) {
        const bool ready = script.waitForReadyRead(100);
        if (output && (ready || script.state() == QProcess::NotRunning))
            output(script.readAllStandardOutput());
        if (script.state() == QProcess::NotRunning)
            break;
        if (stop) {
            script.kill();
            script.waitForFinished();
            return false;
        }
    }
    return script.exitStatus() == QProcess::NormalExit && script.exitCode() == 0;
}

// Why a script failed, for the fetch's record; its own messages went to standard error.
QString scriptFailure(const QString &script, const QProcess &process)
{
    if (process.error() == QProcess::FailedToStart)
        return script + QStringLiteral(" could not be started: ") + process.errorString();
    if (process.exitStatus() != QProcess::NormalExit)
        return script + QStringLiteral(" crashed");
    return script
        + QStringLiteral(" failed with exit status %1 (its messages went to standard "
                         "error: the terminal, or the journal for the daily run)")
              .arg(process.exitCode());
}

} // namespace

GrabberProgress::Step GrabberProgress::feed(const QByteArray &chunk)
{
    Step step;
    const qsizetype at = chunk.indexOf("Fetching");
    // A count cut off by the chunk's end is not read; a later "Fetching" may bring it.
    if (at >= 0 && chunk.size() >= at + 11) {
        count_ = QString::fromLatin1(chunk.mid(at + 9, 2));
        step.channelsLine = QStringLiteral("Number of channels: ") + *count_ + QLatin1Char('\n');
    }
    dots_ += chunk.count('.');
    if (count_) {
        bool number = false;
        const int channels = count_->toInt(&number);
        step.percent = number && channels != 0 ? float(dots_) / float(channels) * 100.0f : 0.0f;
    }
    return step;
}

bool EPGController::copyDataUK(QProcess &grabber)
{
    GrabberProgress progress;
    const QString today = Clock::today().toString(QStringLiteral("ddMMyyyy"));
    return finish(grabber, fetchStop_, [&](const QByteArray &chunk) {
        if (chunk.isEmpty())
            return;
        logString_ += QString::fromLatin1(chunk);
        const GrabberProgress::Step step = progress.feed(chunk);
        if (step.channelsLine)
            printStatus(*step.channelsLine);
        if (!step.percent || !slc_)
            return;
        // A fresh row each time, so that a view still drawing one never sees it change.
        auto row = std::make_shared<GuideDayRow>();
        row->date = today;
        row->file = QStringLiteral("Loading...");
        row->downloaded = *step.percent;
        slc_->setFileList({ row });
        slc_->reloadTable();
    });
}

void EPGController::fetchDataUK()
{
    const QString program = Paths::programFolder();
    const QString support = Paths::applicationSupportFolder();
    QDir().mkpath(support);
    if (kwc_)
        kwc_->writeOutData();

    // Runs a script in the ApplicationSupportFolder; `wait` sees it to its end.
    auto run = [&support](QProcess &script, const QString &interpreter,
                          const QStringList &arguments, QProcess::ProcessChannelMode channels,
                          const std::function<bool(QProcess &)> &wait) {
        script.setWorkingDirectory(support);
        script.setProcessChannelMode(channels);
        script.setStandardInputFile(QProcess::nullDevice());
        script.start(interpreter, arguments);
        if (script.waitForStarted())
            return wait(script);
        systemLog(interpreter + QStringLiteral(" could not be started: ") + script.errorString());
        return false;
    };
    // `said`: the cause is a line of the script's own, worth showing in the StatusLog.
    auto failed = [this](const QString &task, const QString &status, const QString &cause,
                      bool said = false) {
        if (!fetchStop_) {
            systemLog(task);
            printStatus(status);
            if (said)
                printStatus(cause + QLatin1Char('\n'));
        }
        endFetch(false, fetchStop_ ? stoppedCause() : cause);
    };

    log_->setText(QStringLiteral("Starting...\n"));
    QProcess grabber;
    // The output is read here, while the grabber runs, so that nothing the reader shows
    // can come after the rescan below.
    if (!run(grabber, kPhp, { program + QStringLiteral("getdat.php") },
             QProcess::ForwardedErrorChannel, [this](QProcess &p) { return copyDataUK(p); })
        || fetchStop_)
        return failed(QStringLiteral("Task1 failed."), QStringLiteral(" Grabber failure\n"),
            scriptFailure(QStringLiteral("The grabber getdat.php"), grabber));

    const QVariant days = Settings::value(QStringLiteral("daysToLoad"));
    printStatus(QStringLiteral("Downloading finished.\n"));
    printStatus(QStringLiteral("Converting to TGD format..."));
    QStringList arguments { program + QStringLiteral("dat2tgd.pl"), QStringLiteral("-oldtgd"),
                            QStringLiteral("-days") };
    if (days.isValid())
        arguments << days.toString();
    // The converter's day files and the reload's marks on them: one writer.
    DataFolderLock writing;
    QProcess converter;
    // Its error output is read, so that the StatusLog can say why it failed.
    if (!run(converter, kPerl, arguments, QProcess::ForwardedOutputChannel,
            [this](QProcess &p) { return finish(p, fetchStop_); })
        || fetchStop_) {
        const QString why = QString::fromLocal8Bit(converter.readAllStandardError())
                                .trimmed()
                                .section(QLatin1Char('\n'), -1);
        return failed(QStringLiteral("Task2 failed."), QStringLiteral(" Converting Failed\n"),
            why.isEmpty() ? scriptFailure(QStringLiteral("The converter dat2tgd.pl"), converter)
                          : why,
            !why.isEmpty());
    }

    printStatus(QStringLiteral(" Done\n"));
    const bool marked = rescanAndReload();
    const QString onDisk
        = QStringLiteral("%1 guide days on disk").arg(slc_ ? slc_->fileList().size() : 0);
    endFetch(marked,
        marked ? onDisk : onDisk + QStringLiteral(", but the marks could not be written on them"));
}
