#include "device/SoftwareRecorder.h"

#include "device/DataHandler.h"
#include "device/USBFunctions.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <algorithm>
#include <cstring>
#include <thread>

namespace
{

using Clock = std::chrono::steady_clock;

class Stopwatch
{
public:
    explicit Stopwatch(double &total)
        : total_(total)
        , start_(Clock::now())
    {
    }
    ~Stopwatch() { total_ += std::chrono::duration<double>(Clock::now() - start_).count(); }

private:
    double &total_;
    Clock::time_point start_;
};

std::uint32_t be32(const std::uint8_t *p)
{
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8)
        | std::uint32_t(p[3]);
}

bool takeOne(int &count)
{
    if (count == 0)
        return false;
    if (count > 0)
        --count;
    return true;
}

class RecorderTransport final : public UsbTransport
{
public:
    explicit RecorderTransport(std::shared_ptr<SoftwareRecorder> recorder)
        : r_(std::move(recorder))
    {
    }

    int open() override
    {
        if (r_->faults().absent || !QFileInfo(r_->folder()).isDir())
            return usbstatus::kNotFound;
        r_->countOpen();
        usbOut("Found device %p", static_cast<void *>(r_.get()));
        usbOut("dealWithDevice: found %d configurations", 1);
        usbOut("found interface: %p", static_cast<void *>(this));
        usbOut("dealWithInterface: found %d pipes", 2);
        interfaceOpened(1, r_->speedCode());
        return 0;
    }

    int writePipe(const std::uint8_t *bytes, int length, int, int) override
    {
        if (closed_)
            return usbstatus::kNoDevice;
        r_->receive(bytes, length);
        return 0;
    }

    int readPipe(std::uint8_t *buffer, int length, int *received, int noDataMs, int) override
    {
        *received = 0;
        if (closed_)
            return usbstatus::kNoDevice;
        if (r_->pipe2Stalled || takeOne(r_->faults().stallReads)) {
            r_->pipe2Stalled = true;
            return usbstatus::kPipe;
        }
        auto &queue = r_->replies();
        const auto limit = Clock::now() + std::chrono::milliseconds(noDataMs);
        if (queue.empty() || queue.front().ready > limit) {
            std::this_thread::sleep_until(limit);
            return usbstatus::kTimeout;
        }
        std::this_thread::sleep_until(queue.front().ready);
        const QByteArray wire = queue.front().wire;
        queue.pop_front();
        const int n = std::min<int>(length, static_cast<int>(wire.size()));
        std::memcpy(buffer, wire.constData(), static_cast<std::size_t>(n));
        *received = n;
        r_->countBytesOut(n);
        return 0;
    }

    int clearPipeStallBothEnds(int pipe) override
    {
        if (closed_)
            return usbstatus::kNoDevice;
        if (pipe == 2) {
            // Resetting the endpoint drops whatever the recorder had queued on it.
            r_->pipe2Stalled = false;
            r_->replies().clear();
        }
        return 0;
    }

    int closeInterface() override { return 0; }
    int releaseInterface() override { return 0; }
    int closeDevice() override
    {
        closed_ = true;
        r_->countClose();
        return r_->faults().closeDeviceStatus;
    }
    int releaseDevice() override
    {
        r_->countReleasedDevice();
        return 0;
    }

private:
    std::shared_ptr<SoftwareRecorder> r_;
    bool closed_ = false;
};

} // namespace

void RecorderFaults::refuse(std::uint32_t command, int times)
{
    overrides.push_back({ command, usb::kReplyFail, times });
}

SoftwareRecorder::SoftwareRecorder(const QString &folder, int speedCode)
    : folder_(QDir::cleanPath(folder))
    , speed_(speedCode)
{
    // The folders every recorder's disk has.
    if (QFileInfo(folder_).isDir()) {
        QDir(folder_).mkpath(QStringLiteral("ProgramFiles"));
        QDir(folder_).mkpath(QStringLiteral("DataFiles"));
    }
}

SoftwareRecorder::~SoftwareRecorder() = default;

std::unique_ptr<UsbTransport> SoftwareRecorder::transport(
    std::shared_ptr<SoftwareRecorder> recorder)
{
    return std::make_unique<RecorderTransport>(std::move(recorder));
}

std::shared_ptr<SoftwareRecorder> SoftwareRecorder::replaceBus(const QString &folder, int speedCode)
{
    auto recorder = std::make_shared<SoftwareRecorder>(folder, speedCode);
    USBFunctions::setTransportFactory([recorder] { return transport(recorder); });
    return recorder;
}

int SoftwareRecorder::commandCount(std::uint32_t code) const
{
    const auto it = stats_.commands.find(code);
    return it == stats_.commands.end() ? 0 : it->second;
}

QString SoftwareRecorder::localPath(const QString &recorderPath) const
{
    const QStringList parts = recorderPath.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    QString path = folder_;
    for (const QString &part : parts) {
        if (part == QLatin1String("..") || part == QLatin1String(".")
            || part.contains(QLatin1Char('/')))
            return {};
        path += QLatin1Char('/') + part;
    }
    return path;
}

QByteArray SoftwareRecorder::directoryEntries(const QString &folder) const
{
    QByteArray data;
    const QFileInfoList children = QDir(folder).entryInfoList(
        QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDir::Name);
    const int room = (usb::kLargestReceive - 8) / DataHandler::kEntrySize;
    for (const QFileInfo &child : children) {
        if (data.size() / DataHandler::kEntrySize >= room)
            break;
        const std::optional<LocalFileAttributes> a
            = DataHandler::attributesOfFile(child.absoluteFilePath());
        if (!a)
            continue;
        data
            += DataHandler::getDataFromTFFile(DataHandler::extractAttributes(*a), child.fileName());
    }
    return data;
}

void SoftwareRecorder::violation(const QString &what)
{
    stats_.violations << what;
}

void SoftwareRecorder::answer(std::uint32_t code, const QByteArray &data)
{
    if (takeOne(faults_.noAnswer))
        return;
    QByteArray wire = USBFunctions::prepareCommand(code, data);
    if ((faults_.shortAnswerCommand == 0 || faults_.shortAnswerCommand == command_)
        && takeOne(faults_.shortAnswer)) {
        QByteArray logical = USBFunctions::swap(wire).left(faults_.shortLength);
        if (logical.size() >= 2) {
            logical[0] = static_cast<char>((logical.size() >> 8) & 0xFF);
            logical[1] = static_cast<char>(logical.size() & 0xFF);
        }
        wire = USBFunctions::swap(logical);
    }
    replies_.push_back({ wire, Clock::now() + std::chrono::milliseconds(faults_.slowAnswerMs) });
}

void SoftwareRecorder::receive(const std::uint8_t *bytes, int transferLength)
{
    Stopwatch watch(stats_.secondsInside);
    ++stats_.transfersIn;
    stats_.bytesIn += transferLength;
    const unsigned g = granule();
    if (transferLength % static_cast<int>(g) != 0)
        violation(QStringLiteral("transfer of %1 bytes is not a multiple of %2")
                      .arg(transferLength)
                      .arg(g));
    if (transferLength % 512 == 0) {
        // Without a short packet the device never sees the transfer end.
        violation(QStringLiteral("transfer of %1 bytes is a multiple of 512").arg(transferLength));
        return;
    }
    if (transferLength < 8) {
        violation(QStringLiteral("transfer of %1 bytes holds no packet").arg(transferLength));
        return;
    }
    const unsigned length = (unsigned(bytes[1]) << 8) | bytes[0];
    const unsigned padded = length + (length % 2);
    if (length < 8 || padded > static_cast<unsigned>(transferLength)) {
        violation(
            QStringLiteral("length field %1 in a transfer of %2").arg(length).arg(transferLength));
        answer(usb::kReplyFail);
        return;
    }
    for (unsigned i = padded; i < static_cast<unsigned>(transferLength); ++i)
        if (bytes[i] != 0) {
            violation(QStringLiteral("padding byte %1 is not zero").arg(i));
            break;
        }
    QByteArray logical = USBFunctions::swap(QByteArray::fromRawData(
        reinterpret_cast<const char *>(bytes), static_cast<qsizetype>(padded)));
    logical.truncate(length);
    const auto *p = reinterpret_cast<const std::uint8_t *>(logical.constData());
    const std::uint16_t crc = static_cast<std::uint16_t>((p[2] << 8) | p[3]);
    if (USBFunctions::findCRC(p + 4, length - 4) != crc) {
        violation(QStringLiteral("CRC mismatch"));
        answer(usb::kReplyFail);
        return;
    }
    const std::uint32_t code = be32(p + 4);
    ++stats_.commands[code];
    command_ = code;
    for (auto it = faults_.overrides.begin(); it != faults_.overrides.end(); ++it)
        if (it->command == code && takeOne(it->times)) {
            answer(it->replyCode);
            return;
        }
    dispatch(code, logical.mid(8));
}

void SoftwareRecorder::abortTransfer()
{
    if (incoming_)
        incoming_->cancelWriting();
    incoming_.reset();
    started_ = false;
}

void SoftwareRecorder::dispatch(std::uint32_t code, const QByteArray &data)
{
    switch (code) {
    case usb::kCmdCancel:
        abortTransfer();
        answer(usb::kReplySuccess);
        return;
    case usb::kCmdDirList: {
        const QString path = localPath(QString::fromLatin1(data.constData()));
        if (path.isEmpty() || !QFileInfo(path).isDir()) {
            answer(usb::kReplyFail);
            return;
        }
        answer(usb::kReplyDirBlock, directoryEntries(path) + faults_.directoryTail);
        return;
    }
    case usb::kCmdFileSend: {
        abortTransfer();
        const auto *p = reinterpret_cast<const std::uint8_t *>(data.constData());
        const int length = data.size() >= 3 ? (p[1] << 8) | p[2] : -1;
        if (length < 2 || 3 + length > data.size() || p[0] != 0) {
            violation(QStringLiteral("malformed file-send request"));
            answer(usb::kReplyFail);
            return;
        }
        const QByteArray raw = data.mid(3, length);
        const QString recorderPath = QString::fromLatin1(raw.left(raw.indexOf('\0')));
        const QString path = localPath(recorderPath);
        if (path.isEmpty() || path == folder_ || !QFileInfo(QFileInfo(path).path()).isDir()) {
            answer(usb::kReplyFail);
            return;
        }
        incoming_ = std::make_unique<QSaveFile>(path);
        if (!incoming_->open(QIODevice::WriteOnly)) {
            incoming_.reset();
            answer(usb::kReplyFail);
            return;
        }
        incomingPath_ = recorderPath;
        received_ = 0;
        lastOffset_ = -1;
        answer(usb::kReplySuccess);
        return;
    }
    case usb::kCmdFileStart: {
        const std::optional<TFFile> f = DataHandler::getTFFileFromSwappedHexData(data);
        if (!incoming_ || !f || data.size() != DataHandler::kEntrySize) {
            answer(usb::kReplyFail);
            return;
        }
        TFFile t = *f;
        DataHandler::convertRawDataToUseful(t);
        declaredSize_ = static_cast<qint64>(*t.fileSize);
        declaredTime_ = t.date->toSecsSinceEpoch() + t.sec;
        started_ = true;
        answer(usb::kReplySuccess);
        return;
    }
    case usb::kCmdFileData: {
        if (!incoming_ || !started_ || data.size() < 8) {
            answer(usb::kReplyFail);
            return;
        }
        qint64 offset = 0;
        for (int i = 0; i < 8; ++i)
            offset = (offset << 8) | static_cast<std::uint8_t>(data.at(i));
        const qint64 n = data.size() - 8;
        if (offset == lastOffset_ && n == lastSize_) { // a resend of a chunk already kept
            answer(usb::kReplySuccess);
            return;
        }
        if (offset != received_) {
            violation(QStringLiteral("data at offset %1, expected %2").arg(offset).arg(received_));
            answer(usb::kReplyFail);
            return;
        }
        if (incoming_->write(data.constData() + 8, n) != n) {
            abortTransfer();
            answer(usb::kReplyFail);
            return;
        }
        received_ += n;
        stats_.fileBytes += n;
        lastOffset_ = offset;
        lastSize_ = n;
        answer(usb::kReplySuccess);
        return;
    }
    case usb::kCmdFileEnd: {
        if (!incoming_ || !started_ || received_ != declaredSize_) {
            abortTransfer();
            answer(usb::kReplyFail);
            return;
        }
        const QString path = incoming_->fileName();
        const bool ok = incoming_->commit();
        incoming_.reset();
        started_ = false;
        if (!ok) {
            answer(usb::kReplyFail);
            return;
        }
        QFile written(path);
        if (written.open(QIODevice::ReadWrite))
            written.setFileTime(
                QDateTime::fromSecsSinceEpoch(declaredTime_), QFileDevice::FileModificationTime);
        stats_.filesWritten << incomingPath_;
        answer(usb::kReplySuccess);
        return;
    }
    default:
        answer(usb::kReplyFail);
    }
}
