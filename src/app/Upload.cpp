// The upload: every guide day to the recorder over USB, or to the FTP server.
#include "app/EPGController.h"

#include "app/FtpUpload.h"
#include "base/Paths.h"
#include "base/Settings.h"
#include "base/StatusLog.h"
#include "base/SystemLog.h"
#include "device/DataHandler.h"
#include "device/USBFunctions.h"
#include "ui/SourceListController.h"

#include <QCoreApplication>

namespace
{
bool usesUSB()
{
    return Settings::string(QStringLiteral("connectionMethod")) == QLatin1String("USB");
}
} // namespace

QString EPGController::recorderFolder()
{
    const QString backslash = QStringLiteral("\\");
    return backslash + Settings::stringList(QStringLiteral("uploadFolder")).join(backslash)
        + backslash;
}

QString EPGController::ftpDestination(const QString &fileName)
{
    return FtpUpload::destinationURL(Settings::string(QStringLiteral("FTP URL")), fileName);
}

bool EPGController::uploadEPG()
{
    QString cause;
    const bool ok = sendGuideDays(&cause);
    record(RunRecords::Job::Upload, ok, cause);
    return ok;
}

bool EPGController::sendGuideDays(QString *cause)
{
    if (kwc_)
        kwc_->writeOutData();
    log_->setText(QString());
    loadExistingTGDs();
    const GuideDayRows rows = slc_ ? slc_->fileList() : GuideDayRows();

    const bool usb = usesUSB();
    if (usb) {
        usbf_ = std::make_shared<USBFunctions>();
        usbf_->setDebug(0);
        usbf_->setRate(60928);
        context_ = usbf_->initializeUSB();
        if (!context_) {
            printStatus(QStringLiteral("Error in connecting to Topfield\n"));
            const QString why = usbf_->connectFailure();
            if (!why.isEmpty())
                printStatus(why + QLatin1Char('\n'));
            *cause = why.isEmpty() ? QStringLiteral("The recorder could not be opened") : why;
            return false;
        }
    }

    const QString folder = Paths::applicationSupportFolder() + QLatin1Char('/')
        + currentOutputFolder_ + QLatin1Char('/');
    bool ok = true;
    for (const GuideDayRowPtr &row : rows) {
        QString name = slc_->value(row, QStringLiteral("file")).toString();
        name.remove(QStringLiteral(" - "));
        name += QStringLiteral(".tgd");
        printStatus(QStringLiteral("Uploading: ") + name + QStringLiteral("..."));
        // The UI thread stays busy until the end: let the view show the line now.
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        const bool sent = usb ? uploadPath(folder + name, recorderFolder())
                              : uploadPath(folder + name, QUrl(ftpDestination(name)));
        if (!sent && ok)
            *cause = QStringLiteral("Sending %1 failed").arg(name);
        ok = sent && ok;
        // Without a recorder to talk to, every further file would fail the same way.
        const QString lost = usb ? recorderLost() : QString();
        if (!lost.isEmpty()) {
            printStatus(lost);
            usbf_->closeDevice(context_.get());
            *cause = lost;
            return false;
        }
    }

    if (usb) {
        const bool counted = checkNumbersOnToppy(static_cast<int>(rows.size()));
        if (!counted && ok)
            *cause = QStringLiteral("The recorder's folder %1 does not hold the %2 day files sent")
                         .arg(recorderFolder())
                         .arg(rows.size());
        ok = counted && ok;
        const QString lost = recorderLost();
        if (!lost.isEmpty()) { // the check's line ends where the recorder went
            printStatus(QLatin1Char('\n') + lost);
            *cause = lost;
            ok = false;
        }
        usbf_->closeDevice(context_.get());
    }
    if (ok)
        *cause = rows.empty() ? QStringLiteral("No guide days to send")
                              : QStringLiteral("%1 day files sent").arg(rows.size());
    if (beep_)
        beep_();
    return ok;
}

QString EPGController::recorderLost() const
{
    if (usbf_->recorderGone())
        return QStringLiteral("The recorder was disconnected: the upload stops here. Connect it "
                              "again, then upload again.\n");
    if (usbf_->recorderSilent())
        return QStringLiteral("The recorder stopped answering: the upload stops here. Switch it "
                              "off and on again, then upload again.\n");
    return {};
}

bool EPGController::uploadPath(const QString &path, const QString &toPath)
{
    const std::optional<LocalFileAttributes> attributes = DataHandler::attributesOfFile(path);
    if (!attributes) {
        systemLog(QStringLiteral("Path of file to upload is incorrect!"));
        return false;
    }
    const TFFile file = DataHandler::extractAttributes(*attributes);
    const QString name = path.section(QLatin1Char('/'), -1);
    const QByteArray record = DataHandler::getDataFromTFFile(file, name);
    const bool ok = usbf_->uploadFile(
        path, static_cast<qint64>(attributes->size), toPath, record, context_.get());
    printStatus(ok ? QStringLiteral("Done\n") : QStringLiteral("Failed\n"));
    return ok;
}

bool EPGController::uploadPath(const QString &path, const QUrl &toURLString)
{
    const bool ok = ftpPublisher_ && ftpPublisher_(path, toURLString.toString());
    printStatus(ok ? QStringLiteral("Done\n") : QStringLiteral("Failed\n"));
    return ok;
}

bool EPGController::checkNumbersOnToppy(int count)
{
    printStatus(QStringLiteral("Checking number of TGD files on Topfield: "));
    std::optional<QByteArray> reply = usbf_->getFileList(context_.get(), recorderFolder());
    if (!reply || reply->size() < 8)
        return false;
    const std::optional<std::uint32_t> code = usb::replyCode(*reply);
    if (code == usb::kReplyFail) {
        printStatus(QStringLiteral("Error on last command."));
        return false;
    }
    if (code != usb::kReplyDirBlock)
        reply = usbf_->getFileList(context_.get(), recorderFolder());
    int found = 0;
    const QByteArray entries = reply ? reply->mid(8) : QByteArray();
    for (qsizetype at = 0; at + DataHandler::kEntrySize <= entries.size();
         at += DataHandler::kEntrySize) {
        std::optional<TFFile> f
            = DataHandler::getTFFileFromSwappedHexData(entries.mid(at, DataHandler::kEntrySize));
        if (!f)
            continue;
        DataHandler::convertRawDataToUseful(*f);
        if (f->name && f->name->endsWith(QLatin1String("tgd")))
            ++found;
    }
    if (found < count) {
        printStatus(QStringLiteral("Wrong, check upload!"));
        return false;
    }
    printStatus(QStringLiteral("Correct!"));
    return true;
}
