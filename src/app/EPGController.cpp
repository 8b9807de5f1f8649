#include "app/EPGController.h"

#include "base/Clock.h"
#include "base/Paths.h"
#include "base/Settings.h"
#include "base/StatusLog.h"
#include "base/SystemLog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

EPGController::EPGController(StatusLog *log, QObject *parent)
    : QObject(parent)
    , log_(log)
{
    connect(&upload_, &GuideUpload::finished, this, &EPGController::endUpload);
}

EPGController::~EPGController()
{
    stopFetch();
    // Its worker writes the record through this object's members.
    upload_.stopAndWait();
}

void EPGController::awakeFromNib()
{
    currentOutputFolder_ = QStringLiteral("output");
    Settings::registerDefaults();

    const QString programFolder = Paths::programFolder();
    const QString support = Paths::applicationSupportFolder();
    QDir().mkpath(support);
    QDir(support).mkpath(QStringLiteral("output"));
    QDir(support).mkpath(QStringLiteral("channels"));

    copyFile(QStringLiteral("channelmap.ini"), programFolder, support);
    copyFile(QStringLiteral("PallaroScript.scpt"), programFolder, support);
    const QString output = support + QLatin1Char('/') + currentOutputFolder_;
    copyFile(QStringLiteral("popup.js"), programFolder, output);
    copyFile(QStringLiteral("xmltv2html.css"), programFolder, output);
    copyFile(QStringLiteral("xmltv2htmlrc"), programFolder, output);

    removeInterruptedWrites();
    loadExistingTGDs();
    if (gc_)
        gc_->loadPages();
}

bool EPGController::copyFile(const QString &file, const QString &from, const QString &to)
{
    const QString source = from + file;
    const QString destination = QDir(to).filePath(file);
    if (!QFileInfo::exists(source) || QFileInfo::exists(destination))
        return false;
    return QFile::copy(source, destination);
}

void EPGController::printStatus(const QString &text)
{
    log_->printStatus(text);
}

void EPGController::closePrefsSheet()
{
    Settings::synchronize();
    setAutoRun(Settings::boolean(QStringLiteral("autoRun")));
}

void EPGController::setAutoRun(bool on)
{
    if (scheduler_)
        scheduler_->setAutoRun(on);
}

void EPGController::applicationWillTerminate()
{
    // A fetch still writing day files would race the write-out below; an upload ends
    // between files.
    stopFetch();
    upload_.stopAndWait();
    if (kwc_)
        kwc_->writeOutData();
}

void EPGController::record(RunRecords::Job job, bool ok, const QString &cause)
{
    RunOutcome outcome;
    outcome.time = Clock::now();
    outcome.ok = ok;
    outcome.cause = RunRecords::causeLine(cause);
    outcome.by = runner_;
    (job == RunRecords::Job::Fetch ? lastFetch_ : lastUpload_) = outcome;
    QString why;
    if (!RunRecords::write(job, outcome, &why))
        systemLog(QStringLiteral("The run record could not be written: ") + why);
}

RunOutcome EPGController::lastOutcome(RunRecords::Job job) const
{
    return job == RunRecords::Job::Fetch ? lastFetch_ : lastUpload_;
}
