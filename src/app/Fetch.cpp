#include "app/Download.h"
#include "app/EPGController.h"
#include "app/GridJobs.h"
#include "app/GuideArchive.h"
#include "app/GuideConversion.h"
#include "app/RunRecords.h"
#include "base/DataFolderLock.h"
#include "base/FolderWalk.h"
#include "base/Paths.h"
#include "base/Settings.h"
#include "base/StatusLog.h"
#include "base/SystemLog.h"
#include "base/WholeFile.h"
#include "guide/XMLToEPG.h"
#include "ui/SourceListController.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

namespace {

const QString kShell = QStringLiteral("/bin/sh");

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

// The guide members of a downloaded archive, taken out into `folder`; an answer whose
// guide is no XMLTV document holds none.
QStringList guideOfAnswer(
    const QByteArray &zip, const QString &folder, const GuideArchive::Limits &limits, QString *why)
{
    QStringList guide = GuideArchive::extract(zip, folder, limits, why);
    const auto isGuide = [&folder](const QString &name) {
        return XMLToEPG::rootIsGuide(folder + QLatin1Char('/') + name);
    };
    if (guide.isEmpty() || std::any_of(guide.begin(), guide.end(), isGuide))
        return guide;
    *why = QStringLiteral("its \"%1\" is no XMLTV document").arg(guide.first());
    for (const QString &name : guide)
        QFile::remove(folder + QLatin1Char('/') + name);
    return {};
}

// rename() puts each file in the place of whatever stood there, a link included.
bool moveGuide(const QStringList &names, const QString &from, const QString &to, QString *why)
{
    for (const QString &name : names) {
        const QString target = to + QLatin1Char('/') + name;
        if (std::rename(QFile::encodeName(from + QLatin1Char('/') + name).constData(),
                QFile::encodeName(target).constData())
            != 0) {
            *why = target + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
            return false;
        }
    }
    return true;
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
    // The page is made under a name mktemp creates afresh and renamed over the page, which
    // replaces a link standing there instead of writing to where it points (-T: even to a
    // folder).
    const QString page = shellQuote(withoutExtension(relativeXml) + QStringLiteral(".html"));
    return QStringLiteral("t=$(mktemp %3.XXXXXX) && /usr/bin/ruby %1 < %2 > \"$t\" "
                          "&& mv -fT \"$t\" %3 || rm -f \"$t\"")
        .arg(shellQuote(scriptPath), shellQuote(relativeXml), page);
}

void EPGController::setButtonsForFetch(bool running)
{
    if (!buttons_)
        return;
    buttons_->setFetchButton(
        !running, running ? QStringLiteral("Downloading...") : QStringLiteral("Fetch"));
    buttons_->setUploadButton(!running, QStringLiteral("Upload"));
}

void EPGController::endFetch(bool succeeded, const QString &cause, bool fetched)
{
    record(RunRecords::Job::Fetch, succeeded && fetched, cause);
    // The list shows the days on disk again, not the placeholder row of the failed fetch.
    if (!succeeded)
        loadExistingTGDs();
    fetchRunning_ = false;
    ui_.run([this, succeeded] {
        setButtonsForFetch(false);
        Q_EMIT fetchFinished(succeeded);
    });
}

bool EPGController::rescanAndReload()
{
    loadExistingTGDs();
    const bool written = !kwc_ || kwc_->reloadData(QStringLiteral("NoSave"));
    ui_.run([this] {
        if (beep_)
            beep_();
    });
    return written;
}

bool EPGController::fetchEPG()
{
    // Two fetches would write the same files; an upload would send them half written.
    if (upload_.isRunning())
        return refuse(QStringLiteral("An upload is running: fetch when it has ended."));
    if (fetchRunning_)
        return true;
    if (fetchWorker_.joinable())
        fetchWorker_.join();
    logString_.clear();
    setButtonsForFetch(true);
    fetchStop_ = false;
    fetchRunning_ = true;
    if (Settings::usesScriptFetch())
        fetchWorker_ = std::thread([this] { fetchDataUK(); });
    else
        fetchWorker_ = std::thread([this] { fetchDataKR(); });
    return true;
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
    limits.stallSeconds = stallSeconds_;
    const std::optional<QByteArray> body = Download::whole(url, limits, &why);
    if (fetchStop_) {
        endFetch(false, stoppedCause());
        return;
    }
    if (!body)
        systemLog(QStringLiteral("Download brought nothing: ") + why);
    progress(15);

    // The guide is taken out into a folder only this program writes, so that nothing else
    // an archive holds, and no name it chooses, reaches the output folder.
    QTemporaryDir unpacked(output + QStringLiteral("/.unpacked-XXXXXX"));
    GuideArchive::Limits unpack;
    unpack.cancel = &fetchStop_;
    unpack.maxMemberBytes = maxGuideBytes_;
    const QString archive = output + QStringLiteral("/kR.zip");
    QStringList guide;
    QString reason = why;
    if (!unpacked.isValid()) {
        reason = unpacked.path() + QStringLiteral(": ") + unpacked.errorString();
    } else if (body) {
        guide = guideOfAnswer(*body, unpacked.path(), unpack, &why);
        // The last good archive is the fallback of the next failed download: only an
        // archive holding a guide replaces it.
        QString writeError;
        if (!guide.isEmpty() && !writeWholeFile(archive, *body, &writeError))
            systemLog(QStringLiteral("Could not write ") + writeError);
        // A failure naming the folder it was unpacked into is this machine's, not the answer's.
        // Every zip archive starts with "PK"; anything else is told by what it looks like.
        if (guide.isEmpty() && why.startsWith(unpacked.path()))
            reason = QStringLiteral("The guide could not be unpacked: ") + why;
        else if (guide.isEmpty() && !body->startsWith("PK"))
            reason = QStringLiteral("The guide provider answered %1 with %2, not a zip archive")
                         .arg(url, Download::kindOf(*body));
        else if (guide.isEmpty())
            reason = QStringLiteral("The provider's answer holds no guide: ") + why;
    }
    progress(33);

    const bool olderArchive = unpacked.isValid() && guide.isEmpty() && !fetchStop_
        && QFileInfo(archive).isFile() && !QFileInfo(archive).isSymLink();
    if (olderArchive)
        printStatus(reason + QStringLiteral("; converting the archive of an earlier fetch.\n"));
    printStatus(QStringLiteral("Unzipping...\n"));
    // What an earlier archive left must not pass for this archive's guide.
    for (const QString &name : GuideArchive::guideNames())
        QFile::remove(output + QLatin1Char('/') + name);
    if (olderArchive) {
        guide = GuideArchive::extractFile(archive, unpacked.path(), unpack, &why);
        // The download's own cause stays first: it is what the person can mend.
        if (guide.isEmpty())
            reason += QStringLiteral("; the archive of an earlier fetch holds no guide either: ")
                + why;
    }
    if (fetchStop_) {
        endFetch(false, stoppedCause());
        return;
    }
    if (!moveGuide(guide, unpacked.path(), output, &why)) {
        reason = why;
        guide.clear();
    }
    unpacked.remove();
    progress(66);
    if (guide.isEmpty()) {
        systemLog(QStringLiteral("Task1 failed."));
        printStatus(QStringLiteral(" Grabber failure\n"));
        printStatus(reason + QStringLiteral("\n"));
        endFetch(false, reason);
        return;
    }

    // From the new day files to the marks on them, no other writer comes between.
    auto writing = std::make_unique<DataFolderLock>();
    printStatus(QStringLiteral("Converting to TGD format..."));
    GuideConversion conversion;
    conversion.convertToTGD(output);
    if (!conversion.writeError().isEmpty()) {
        const QString cause = QStringLiteral("The guide was left as it was: cannot write ")
            + conversion.writeError();
        systemLog(QStringLiteral("Task2 failed."));
        printStatus(QStringLiteral(" Failed\n") + cause + QLatin1Char('\n'));
        endFetch(false, cause);
        return;
    }
    printStatus(QStringLiteral(" Done\n"));
    progress(100);
    if (conversion.programmes() == 0)
        printStatus(QStringLiteral("The guide held no programmes (") + conversion.why()
            + QStringLiteral("): no day files were made.\n"));

    const bool grid = Settings::integer(QStringLiteral("generateGrid")) == 1;
    const QString script = programFolder + QStringLiteral("xmltv2html.rb");
    GridJobs jobs(
        QThread::idealThreadCount(),
        [&output, &script](const QString &relative) -> std::optional<qint64> {
            qint64 pid = 0;
            if (!QProcess::startDetached(
                    kShell, { QStringLiteral("-c"), gridCommand(script, relative) }, output, &pid))
                return std::nullopt;
            return pid;
        },
        &stillRunning);
    auto startPages = [this, &jobs] {
        for (const QString &relative : jobs.startWaiting()) {
            systemLog(relative);
            printStatus(QStringLiteral("\nIn progress..."));
        }
    };
    // Pages started now would outlive the application.
    if (grid && !fetchStop_) {
        printStatus(QStringLiteral("Creating grid previews..."));
        const QString unwritten = conversion.exportXML(output);
        if (!unwritten.isEmpty())
            printStatus(QStringLiteral("\nNo grid previews: cannot write ") + unwritten
                + QStringLiteral("\n"));
        for (const QString &relative : walkSorted(output))
            if (extensionOf(relative) == QLatin1String("xml")
                && relative != QLatin1String("xmltv.xml"))
                jobs.add(relative);
        startPages();
    }

    const bool marksWritten = rescanAndReload();
    writing.reset();

    if (grid) {
        // The pages are not waited for as such; the pause ends early once all are written,
        // and lasts until the last waiting page has started.
        QElapsedTimer waited;
        waited.start();
        while (!fetchStop_
            && (jobs.anyWaiting() || (jobs.anyRunning() && waited.elapsed() < gridPauseMs_))) {
            QThread::msleep(100);
            startPages();
        }
        printStatus(QStringLiteral(" Done\n"));
        ui_.run([this] {
            if (gc_)
                gc_->loadPages();
        });
    }
    const bool made = conversion.programmes() > 0 && conversion.dayFiles() > 0;
    QString cause = made ? QStringLiteral("%1 day files written").arg(conversion.dayFiles())
                         : QStringLiteral("The guide held no programmes (") + conversion.why()
            + QStringLiteral("): no day files were made");
    if (made && !marksWritten)
        cause += QStringLiteral(", but the marks could not be written on them");
    if (olderArchive)
        cause = reason + QStringLiteral("; ") + cause
            + QStringLiteral(" from the archive of an earlier fetch");
    endFetch(made && marksWritten, cause, !olderArchive);
}
