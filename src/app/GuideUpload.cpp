#include "app/GuideUpload.h"

#include "app/FtpUpload.h"
#include "base/Settings.h"
#include "base/StatusLog.h"
#include "base/SystemLog.h"
#include "device/DataHandler.h"
#include "device/USBFunctions.h"

#include <memory>

namespace
{

// The recorder over USB for one upload, opened on the worker and closed by it.
class UsbSession
{
public:
    explicit UsbSession(std::function<void(const QString &)> print)
        : print_(std::move(print))
        , usbf_(std::make_shared<USBFunctions>())
    {
        usbf_->setDebug(0);
        usbf_->setRate(60928);
    }

    bool open()
    {
        context_ = usbf_->initializeUSB();
        return context_ != nullptr;
    }
    QString connectFailure() const { return usbf_->connectFailure(); }
    void close() { usbf_->closeDevice(context_.get()); }

    // One file into the recorder folder toPath.
    bool uploadPath(const QString &path, const QString &toPath)
    {
        const std::optional<LocalFileAttributes> attributes = DataHandler::attributesOfFile(path);
        if (!attributes) {
            systemLog(QStringLiteral("Path of file to upload is incorrect!"));
            print_(QStringLiteral("Failed\n"));
            return false;
        }
        const TFFile file = DataHandler::extractAttributes(*attributes);
        const QString name = path.section(QLatin1Char('/'), -1);
        const QByteArray record = DataHandler::getDataFromTFFile(file, name);
        const bool ok = usbf_->uploadFile(
            path, static_cast<qint64>(attributes->size), toPath, record, context_.get());
        print_(ok ? QStringLiteral("Done\n") : QStringLiteral("Failed\n"));
        return ok;
    }

    // Counts the TGD files in `folder` against `count`; true on "Correct!".
    bool checkNumbersOnToppy(const QString &folder, qsizetype count)
    {
        print_(QStringLiteral("Checking number of TGD files on Topfield: "));
        std::optional<QByteArray> reply = usbf_->getFileList(context_.get(), folder);
        if (!reply || reply->size() < 8)
            return false;
        const std::optional<std::uint32_t> code = usb::replyCode(*reply);
        if (code == usb::kReplyFail) {
            print_(QStringLiteral("Error on last command."));
            return false;
        }
        if (code != usb::kReplyDirBlock)
            reply = usbf_->getFileList(context_.get(), folder);
        qsizetype found = 0;
        const QByteArray entries = reply ? reply->mid(8) : QByteArray();
        for (qsizetype at = 0; at + DataHandler::kEntrySize <= entries.size();
             at += DataHandler::kEntrySize) {
            std::optional<TFFile> f = DataHandler::getTFFileFromSwappedHexData(
                entries.mid(at, DataHandler::kEntrySize));
            if (!f)
                continue;
            DataHandler::convertRawDataToUseful(*f);
            if (f->name && f->name->endsWith(QLatin1String("tgd")))
                ++found;
        }
        if (found < count) {
            print_(QStringLiteral("Wrong, check upload!"));
            return false;
        }
        print_(QStringLiteral("Correct!"));
        return true;
    }

    // The line saying the recorder is lost to this upload, or empty while it answers.
    QString recorderLost() const
    {
        if (usbf_->recorderGone())
            return QStringLiteral("The recorder was disconnected: the upload stops here. "
                                  "Connect it again, then upload again.\n");
        if (usbf_->recorderSilent())
            return QStringLiteral("The recorder stopped answering: the upload stops here. "
                                  "Switch it off and on again, then upload again.\n");
        return {};
    }

private:
    std::function<void(const QString &)> print_;
    std::shared_ptr<USBFunctions> usbf_;
    std::shared_ptr<TopfieldUSBContext> context_;
};

QString notSentLine(qsizetype count)
{
    return count == 1 ? QStringLiteral("1 day file was not sent.")
                      : QStringLiteral("%1 day files were not sent.").arg(count);
}

} // namespace

GuideUpload::GuideUpload(StatusLog *log, QObject *parent)
    : QObject(parent)
    , log_(log)
    , ftpPublisher_([](const QString &localPath, const QUrl &destination) {
        return PublishPicture().send({ localPath, destination });
    })
{
}

GuideUpload::~GuideUpload()
{
    stopAndWait();
}

GuideUpload::Plan GuideUpload::plan(const QString &folder, const QStringList &files)
{
    Plan p;
    p.folder = folder;
    p.files = files;
    p.usb = Settings::string(QStringLiteral("connectionMethod")) == QLatin1String("USB");
    p.recorderFolder = recorderFolder();
    p.ftpURL = Settings::string(QStringLiteral("FTP URL"));
    return p;
}

QString GuideUpload::recorderFolder()
{
    const QString backslash = QStringLiteral("\\");
    return backslash + Settings::stringList(QStringLiteral("uploadFolder")).join(backslash)
        + backslash;
}

bool GuideUpload::start(const Plan &plan, std::function<void(const Result &)> record)
{
    if (running_)
        return false;
    if (worker_.joinable())
        worker_.join();
    stop_ = false;
    running_ = true;
    const std::uint64_t id = ++runs_;
    worker_ = std::thread([this, id, plan, record = std::move(record)] {
        const Result result = run(plan);
        if (record)
            record(result);
        ui_.run([this, id, result] {
            // An upload already waited for by stopAndWait has ended for its owner.
            if (id != runs_)
                return;
            if (worker_.joinable())
                worker_.join();
            running_ = false;
            Q_EMIT finished(result);
        });
    });
    return true;
}

void GuideUpload::stopAndWait()
{
    stop_ = true;
    if (worker_.joinable())
        worker_.join();
    ++runs_;
    running_ = false;
}

void GuideUpload::print(const QString &text)
{
    log_->printStatus(text);
}

GuideUpload::Result GuideUpload::run(const Plan &plan)
{
    Result result = plan.usb ? sendOverUsb(plan) : sendOverFtp(plan);
    if (result.ok)
        result.cause = plan.files.isEmpty()
            ? QStringLiteral("No guide days to send")
            : QStringLiteral("%1 day files sent").arg(plan.files.size());
    return result;
}

GuideUpload::Result GuideUpload::cutShort(
    const QString &lead, qsizetype notSent, const QString &advice)
{
    const QString line = lead.isEmpty() ? notSentLine(notSent)
                                        : lead + QStringLiteral(": ") + notSentLine(notSent);
    print(line + (advice.isEmpty() ? QString() : QLatin1Char(' ') + advice) + QLatin1Char('\n'));
    return { false, line, false };
}

GuideUpload::Result GuideUpload::sendOverUsb(const Plan &plan)
{
    UsbSession usb([this](const QString &text) { print(text); });
    if (!usb.open()) {
        print(QStringLiteral("Error in connecting to Topfield\n"));
        const QString why = usb.connectFailure();
        if (!why.isEmpty())
            print(why + QLatin1Char('\n'));
        return { false, why.isEmpty() ? QStringLiteral("The recorder could not be opened") : why,
            false };
    }
    Result result { true, QString(), true };
    qsizetype sent = 0;
    for (qsizetype i = 0; i < plan.files.size(); ++i) {
        if (stop_) {
            usb.close();
            return cutShort(QStringLiteral("Upload stopped"), plan.files.size() - sent, {});
        }
        const QString &name = plan.files.at(i);
        print(QStringLiteral("Uploading: ") + name + QStringLiteral("..."));
        const bool ok = usb.uploadPath(plan.folder + name, plan.recorderFolder);
        sent += ok ? 1 : 0;
        if (!ok && result.ok)
            result.cause = QStringLiteral("Sending %1 failed").arg(name);
        result.ok = ok && result.ok;
        // Without a recorder to talk to, every further file would fail the same way.
        const QString lost = usb.recorderLost();
        if (!lost.isEmpty()) {
            print(lost);
            usb.close();
            return { false, lost, false };
        }
    }

    const bool counted = usb.checkNumbersOnToppy(plan.recorderFolder, plan.files.size());
    if (!counted && result.ok)
        result.cause
            = QStringLiteral("The recorder's folder %1 does not hold the %2 day files sent")
                  .arg(plan.recorderFolder)
                  .arg(plan.files.size());
    result.ok = counted && result.ok;
    const QString lost = usb.recorderLost();
    if (!lost.isEmpty()) { // the check's line ends where the recorder went
        print(QLatin1Char('\n') + lost);
        result.cause = lost;
        result.ok = false;
    }
    usb.close();
    return result;
}

GuideUpload::Result GuideUpload::sendOverFtp(const Plan &plan)
{
    if (QUrl(plan.ftpURL).host().isEmpty() && !plan.files.isEmpty())
        return cutShort(QStringLiteral("No FTP server is set"), plan.files.size(),
            QStringLiteral("Set the FTP URL in Preferences."));
    Result result { true, QString(), true };
    qsizetype sent = 0;
    for (qsizetype i = 0; i < plan.files.size(); ++i) {
        if (stop_)
            return cutShort(QStringLiteral("Upload stopped"), plan.files.size() - sent, {});
        const QString &name = plan.files.at(i);
        print(QStringLiteral("Uploading: ") + name + QStringLiteral("..."));
        const FtpOutcome outcome
            = uploadPath(plan.folder + name, QUrl(FtpUpload::destinationURL(plan.ftpURL, name)));
        if (outcome.sent()) {
            ++sent;
            continue;
        }
        // A refused login is not tried again (failed logins can lock the account), and a
        // host that could not be reached would only make every file wait the same way.
        if (outcome.failure == FtpFailure::Login || outcome.failure == FtpFailure::Host) {
            Result cut = cutShort(QString(), plan.files.size() - sent,
                outcome.failure == FtpFailure::Login
                    ? QStringLiteral("Check the user name and password of the FTP URL in "
                                     "Preferences.")
                    : QStringLiteral("Check the FTP URL in Preferences, and that the server "
                                     "is running."));
            cut.cause = outcome.why() + QStringLiteral(": ") + cut.cause;
            return cut;
        }
        if (result.ok)
            result.cause = QStringLiteral("Sending %1 failed: %2").arg(name, outcome.why());
        result.ok = false;
    }
    return result;
}

FtpOutcome GuideUpload::uploadPath(const QString &path, const QUrl &destination)
{
    FtpOutcome outcome;
    if (ftpPublisher_)
        outcome = ftpPublisher_(path, destination);
    else
        outcome.failure = FtpFailure::Other; // no client: nothing was sent
    print(outcome.sent() ? QStringLiteral("Done\n") : QStringLiteral("Failed\n"));
    if (!outcome.sent())
        print(outcome.why() + QLatin1Char('\n'));
    return outcome;
}
