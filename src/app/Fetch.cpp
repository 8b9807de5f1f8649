#include "app/Download.h"
#include "app/EPGController.h"
#include "base/DataFolderLock.h"
#include "base/FolderWalk.h"
#include "app/GuideConversion.h"
#include "base/Paths.h"
#include "base/Settings.h"
#include "base/StatusLog.h"
#include "base/SystemLog.h"
#include "base/WholeFile.h"
#include "ui/SourceListController.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>
#include <QUrl>
#include <cerrno>
#include <csignal>
#include <thread>
#include <vector>

namespace {

const QString kUnzip = QStringLiteral("/usr/bin/unzip");
const QString kShell = QStringLiteral("/bin/sh");

// Runs unzip on the archive in the output folder and waits for it, killing it when `stop`
// becomes true. Answers success.
bool unzipArchive(const QString &output, const QString &archive, const std::atomic<bool> &stop)
{
    QProcess unzip;
    unzip.setWorkingDirectory(output);
    unzip.setStandardInputFile(QProcess::nullDevice());
    unzip.setStandardOutputFile(QProcess::nullDevice());
    unzip.setStandardErrorFile(QProcess::nullDevice());
    unzip.start(kUnzip, { QStringLiteral("-o"), archive });
    if (!unzip.waitForStarted())
        return false;
    QElapsedTimer running;
    running.start();
    while (!unzip.waitForFinished(100)) {
        if (stop || running.elapsed() > 10 * 60 * 1000) {
            unzip.kill();
            unzip.waitForFinished();
            return false;
        }
    }
    return unzip.exitStatus() == QProcess::NormalExit && unzip.exitCode() == 0;
}

// Whether a process we started detached is still at work. Such a process is not our
// child, so an exited one may linger as a zombie until its new parent reaps it.
bool stillRunning(qint64 pid)
{
    if (::kill(pid_t(pid), 0) != 0)
        return errno == EPERM;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray line = stat.readAll();
    const qsizetype close = line.lastIndexOf(')');
    return close < 0 || close + 2 >= line.size() || line.at(close + 2) != 'Z';
}

} // namespace

QString EPGController::fixLocationForKR(const QString &location)
{
    QString stripped = location;
    stripped.remove(QLatin1Char(' '));
    stripped.remove(QStringLiteral("and"), Qt::CaseSensitive);
    if (stripped == QLatin1String("CentralCoast"))
        return stripped + QStringLiteral("NSW");
    if (stripped == QLatin1String("EasternVIC"))
        return QStringLiteral("EasternVictoria");
    if (stripped == QLatin1String("NorthernNSW(North)")
        || stripped == QLatin1String("NorthernNSW(South)"))
        return QStringLiteral("NorthernNSW");
    if (stripped == QLatin1String("Mildura/Sunraysia"))
        return QStringLiteral("MilduraSunraysia");
    if (stripped == QLatin1String("WesternVIC"))
        return QStringLiteral("WesternVictoria");
    return stripped;
}

QString EPGController::archiveURL(
    const QString &provider, const QString &host, const QString &location)
{
    const QString path = provider == QLatin1String("Korrin2") ? QStringLiteral("/dwxmltv/xmltv")
                                                              : QStringLiteral("/myxmltv/xmltv");
    // A key typed by hand must not turn into a query or a fragment.
    const QByteArray key = QUrl::toPercentEncoding(fixLocationForKR(location), "/()");
    return QStringLiteral("http://") + host + path + QString::fromLatin1(key)
        + QStringLiteral(".zip");
}

QString EPGController::shellQuote(const QString &text)
{
    QString quoted = text;
    quoted.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

QString EPGController::gridCommand(const QString &scriptPath, const QString &relativeXml)
{
    const QString page = withoutExtension(relativeXml) + QStringLiteral(".html");
    return QStringLiteral("/usr/bin/ruby %1 < %2 > %3")
        .arg(shellQuote(scriptPath), shellQuote(relativeXml), shellQuote(page));
}

void EPGController::setButtonsForFetch(bool running)
{
    if (!buttons_)
        return;
    buttons_->setFetchButton(
        !running, running ? QStringLiteral("Downloading...") : QStringLiteral("Fetch"));
    buttons_->setUploadEnabled(!running);
}

void EPGController::endFetch(bool succeeded)
{
    fetchRunning_ = false;
    ui_.run([this, succeeded] {
        setButtonsForFetch(false);
        Q_EMIT fetchFinished(succeeded);
    });
}

void EPGController::rescanAndReload()
{
    loadExistingTGDs();
    if (kwc_)
        kwc_->reloadData(QStringLiteral("NoSave"));
    ui_.run([this] {
        if (beep_)
            beep_();
    });
}

void EPGController::fetchEPG()
{
    // Two fetches would write the same files.
    if (fetchRunning_)
        return;
    if (fetchWorker_.joinable())
        fetchWorker_.join();
    logString_.clear();
    setButtonsForFetch(true);
    fetchStop_ = false;
    fetchRunning_ = true;
    if (Settings::string(QStringLiteral("provider")) == QLatin1String("UK"))
        fetchWorker_ = std::thread([this] { fetchDataUK(); });
    else
        fetchWorker_ = std::thread([this] { fetchDataKR(); });
}

void EPGController::stopFetch()
{
    fetchStop_ = true;
    if (fetchWorker_.joinable())
        fetchWorker_.join();
}

void EPGController::fetchDataKR()
{
    const QString programFolder = Paths::programFolder();
    const QString output = Paths::outputFolder();
    QDir().mkpath(output);

    // Each step shows a fresh placeholder row, so that a view still drawing an earlier
    // step never sees a later value change under it.
    auto progress = [this](int percent) {
        if (!slc_)
            return;
        auto row = std::make_shared<GuideDayRow>();
        row->file = QStringLiteral("Loading...");
        row->downloaded = percent;
        row->fileCount = 0;
        slc_->setFileList({ row });
        slc_->reloadTable();
    };
    progress(0);

    log_->setText(QString());
    printStatus(QStringLiteral("Downloading...\n"));
    const QString url = archiveURL(Settings::string(QStringLiteral("provider")),
        Settings::string(QStringLiteral("providerHost")),
        Settings::string(QStringLiteral("location")));
    progress(5);
    systemLog(url);

    QString why;
    Download::Limits limits;
    limits.cancel = &fetchStop_;
    const std::optional<QByteArray> body = Download::whole(url, limits, &why);
    if (fetchStop_) {
        endFetch(false);
        return;
    }
    if (!body)
        systemLog(QStringLiteral("Download brought nothing: ") + why);
    progress(15);

    const QString archive = output + QStringLiteral("/kR.zip");
    bool olderArchive = false;
    if (body) {
        if (!writeWholeFile(archive, *body))
            systemLog(QStringLiteral("Could not write ") + archive);
    } else {
        olderArchive = QFileInfo::exists(archive);
    }
    progress(33);

    if (olderArchive)
        printStatus(QStringLiteral(
            "The download brought nothing: converting the archive of an earlier fetch.\n"));
    printStatus(QStringLiteral("Unzipping...\n"));
    // What an earlier archive left must not pass for this archive's guide.
    auto removeGuide = [&output] {
        QFile::remove(output + QStringLiteral("/xmltv.xml"));
        QFile::remove(output + QStringLiteral("/-"));
    };
    removeGuide();
    const bool unzipped = unzipArchive(output, archive, fetchStop_);
    if (fetchStop_) {
        // A killed unzip leaves a part of the guide.
        removeGuide();
        endFetch(false);
        return;
    }
    progress(66);
    if (!unzipped) {
        systemLog(QStringLiteral("Task1 failed."));
        printStatus(QStringLiteral(" Grabber failure\n"));
        endFetch(false);
        return;
    }

    // From the new day files to the marks on them, no other writer comes between.
    auto writing = std::make_unique<DataFolderLock>();
    printStatus(QStringLiteral("Converting to TGD format..."));
    GuideConversion conversion;
    conversion.convertToTGD(output);
    printStatus(QStringLiteral(" Done\n"));
    progress(100);
    if (conversion.programmes() == 0)
        printStatus(QStringLiteral("The guide held no programmes: no day files were made.\n"));

    const bool grid = Settings::integer(QStringLiteral("generateGrid")) == 1;
    std::vector<qint64> gridProcesses;
    // Pages started now would outlive the application.
    if (grid && !fetchStop_) {
        printStatus(QStringLiteral("Creating grid previews..."));
        conversion.exportXML(output);
        const QString script = programFolder + QStringLiteral("xmltv2html.rb");
        for (const QString &relative : walkSorted(output)) {
            if (extensionOf(relative) != QLatin1String("xml")
                || relative == QLatin1String("xmltv.xml"))
                continue;
            systemLog(relative);
            qint64 pid = 0;
            if (QProcess::startDetached(
                    kShell, { QStringLiteral("-c"), gridCommand(script, relative) }, output, &pid))
                gridProcesses.push_back(pid);
            printStatus(QStringLiteral("\nIn progress..."));
        }
    }

    rescanAndReload();
    writing.reset();

    if (grid) {
        // The pages are not waited for as such; the pause ends early once all are written.
        QElapsedTimer waited;
        waited.start();
        auto anyRunning = [&gridProcesses] {
            for (qint64 pid : gridProcesses)
                if (stillRunning(pid))
                    return true;
            return false;
        };
        while (waited.elapsed() < gridPauseMs_ && !fetchStop_ && anyRunning())
            QThread::msleep(100);
        printStatus(QStringLiteral(" Done\n"));
        ui_.run([this] {
            if (gc_)
                gc_->loadPages();
        });
    }
    endFetch(conversion.programmes() > 0 && conversion.dayFiles() > 0);
}
