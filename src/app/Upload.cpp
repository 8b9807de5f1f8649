// The upload's entry points: the upload itself runs in GuideUpload on its worker.
#include "app/EPGController.h"

#include "base/Paths.h"
#include "base/StatusLog.h"
#include "ui/SourceListController.h"

bool EPGController::refuse(const QString &line)
{
    lastRefusal_ = line;
    // Also when it comes while a file's line waits for its outcome.
    log_->printLine(line);
    return false;
}

bool EPGController::uploadEPG()
{
    // Two uploads would share the recorder; a fetch rewrites the files being sent.
    if (upload_.isRunning())
        return refuse(QStringLiteral("An upload is running: wait for its end, or stop it."));
    if (fetchRunning_)
        return refuse(QStringLiteral("A fetch is running: upload when it has ended."));
    if (kwc_)
        kwc_->writeOutData();
    log_->setText(QString());
    loadExistingTGDs();
    QStringList files;
    const GuideDayRows rows = slc_ ? slc_->fileList() : GuideDayRows();
    for (const GuideDayRowPtr &row : rows) {
        QString name = slc_->value(row, QStringLiteral("file")).toString();
        name.remove(QStringLiteral(" - "));
        files << name + QStringLiteral(".tgd");
    }
    const QString folder = Paths::applicationSupportFolder() + QLatin1Char('/')
        + currentOutputFolder_ + QLatin1Char('/');
    setButtonsForUpload(true);
    upload_.start(GuideUpload::plan(folder, files), [this](const GuideUpload::Result &result) {
        record(RunRecords::Job::Upload, result.ok, result.cause);
    });
    return true;
}

void EPGController::stopUpload()
{
    upload_.stop();
}

bool EPGController::isUploading() const
{
    return upload_.isRunning();
}

void EPGController::setButtonsForUpload(bool running)
{
    if (!buttons_)
        return;
    buttons_->setFetchButton(!running, QStringLiteral("Fetch"));
    buttons_->setUploadButton(true, running ? QStringLiteral("Stop") : QStringLiteral("Upload"));
}

void EPGController::endUpload(const GuideUpload::Result &result)
{
    setButtonsForUpload(false);
    if (result.beep && beep_)
        beep_();
    Q_EMIT uploadFinished(result.ok);
}
