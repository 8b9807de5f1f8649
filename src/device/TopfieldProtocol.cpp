// The command half of USBFunctions: packets, exchanges, the listing and the file upload.
#include "base/SystemLog.h"
#include "device/USBFunctions.h"

#include <QFile>
#include <algorithm>
#include <cstring>
#include <vector>

namespace usb
{

std::optional<std::uint32_t> replyCode(const QByteArray &packet)
{
    if (packet.size() < 8)
        return std::nullopt;
    const auto *p = reinterpret_cast<const std::uint8_t *>(packet.constData());
    return (std::uint32_t(p[4]) << 24) | (std::uint32_t(p[5]) << 16) | (std::uint32_t(p[6]) << 8)
        | std::uint32_t(p[7]);
}

QByteArray latin1(const QString &text)
{
    QByteArray out;
    out.reserve(text.size());
    for (QChar c : text)
        if (c.unicode() <= 0xFF)
            out.append(static_cast<char>(c.unicode()));
    return out;
}

QByteArray fileSendRequest(const QString &folder, const QString &fileName)
{
    const QByteArray f = latin1(folder);
    // A longer name would not fit the recorder's 95-byte name field.
    const QByteArray n = latin1(fileName).left(95);
    const unsigned length = static_cast<unsigned>(n.size() + f.size() + 2);
    QByteArray data;
    data.reserve(f.size() + 100);
    data.append('\0');
    data.append(static_cast<char>((length >> 8) & 0xFF));
    data.append(static_cast<char>(length & 0xFF));
    data.append(f);
    data.append('\\');
    data.append(n);
    data.append(95 - n.size(), '\0');
    data.append('\0');
    return data;
}

} // namespace usb

namespace
{
constexpr int kCancelRetries = 8;
constexpr std::size_t kSlack = 2 * 64;

// A data packet built in place in `buffer` (wire form, zeroed slack after it) from the chunk
// already read to offset 16: header, offset, CRC, then the pairwise swap. Answers its length.
unsigned buildDataPacket(std::vector<std::uint8_t> &buffer, qint64 offset, unsigned chunk)
{
    std::uint8_t *p = buffer.data();
    const unsigned length = 16 + chunk;
    p[0] = static_cast<std::uint8_t>(length >> 8);
    p[1] = static_cast<std::uint8_t>(length & 0xFF);
    p[4] = 0;
    p[5] = 0;
    p[6] = static_cast<std::uint8_t>(usb::kCmdFileData >> 8);
    p[7] = static_cast<std::uint8_t>(usb::kCmdFileData & 0xFF);
    for (int i = 0; i < 8; ++i)
        p[8 + i] = static_cast<std::uint8_t>((static_cast<quint64>(offset) >> (56 - 8 * i)) & 0xFF);
    const std::uint16_t crc = USBFunctions::findCRC(p + 4, length - 4);
    p[2] = static_cast<std::uint8_t>(crc >> 8);
    p[3] = static_cast<std::uint8_t>(crc & 0xFF);
    const unsigned padded = length + (length % 2);
    std::fill(p + length, p + padded + kSlack, 0);
    for (unsigned i = 0; i < padded; i += 2)
        std::swap(p[i], p[i + 1]);
    return padded;
}

bool isSuccess(const std::optional<QByteArray> &reply)
{
    return reply && usb::replyCode(*reply) == usb::kReplySuccess;
}

bool wellFormed(const std::optional<QByteArray> &reply)
{
    return reply && reply->size() >= 8;
}
} // namespace

QByteArray USBFunctions::prepareCommand(std::uint32_t code, const QByteArray &data)
{
    const auto length = static_cast<std::uint16_t>(8 + data.size());
    QByteArray packet(8 + data.size(), Qt::Uninitialized);
    auto *p = reinterpret_cast<std::uint8_t *>(packet.data());
    p[0] = static_cast<std::uint8_t>(length >> 8);
    p[1] = static_cast<std::uint8_t>(length & 0xFF);
    p[4] = static_cast<std::uint8_t>(code >> 24);
    p[5] = static_cast<std::uint8_t>(code >> 16);
    p[6] = static_cast<std::uint8_t>(code >> 8);
    p[7] = static_cast<std::uint8_t>(code);
    if (!data.isEmpty())
        std::memcpy(p + 8, data.constData(), static_cast<std::size_t>(data.size()));
    const std::uint16_t crc = findCRC(p + 4, static_cast<unsigned>(packet.size() - 4));
    p[2] = static_cast<std::uint8_t>(crc >> 8);
    p[3] = static_cast<std::uint8_t>(crc & 0xFF);
    return swap(packet);
}

std::optional<QByteArray> USBFunctions::sendCommand(
    const QByteArray &packet, TopfieldUSBContext *device, bool expectResponse, bool careForReturn)
{
    // Zeroed beyond the packet: doSend transfers up to two granules more.
    std::vector<std::uint8_t> out(static_cast<std::size_t>(packet.size()) + kSlack, 0);
    std::memcpy(out.data(), packet.constData(), static_cast<std::size_t>(packet.size()));
    return exchange(
        out, static_cast<unsigned>(packet.size()), device, expectResponse, careForReturn);
}

std::optional<QByteArray> USBFunctions::exchange(const std::vector<std::uint8_t> &out,
    unsigned length, TopfieldUSBContext *device, bool expectResponse, bool careForReturn)
{
    // A recorder off the bus answers nothing; asking again only repeats the error.
    if (!device || !device->interface || gone_)
        return std::nullopt;
    int status = usb::doSend(device->device.get(), device->interface.get(), out.data(), length);
    if (status != 0)
        systemLog(QString::asprintf("sendError: %08x\n", static_cast<unsigned>(status)));
    gone_ = status == usbstatus::kNoDevice;
    if (!expectResponse || gone_)
        return std::nullopt;

    in_.assign(usb::kReceiveBufferSize, 0);
    status = usb::doRecv(
        device->device.get(), device->interface.get(), in_.data(), usb::kLargestReceive);
    if (status != 0)
        systemLog(QString::asprintf("inError: %08x\n", static_cast<unsigned>(status)));
    gone_ = status == usbstatus::kNoDevice;
    if (!careForReturn || gone_)
        return std::nullopt;

    const unsigned replyLength = unsigned(in_[1]) * 256 + in_[0];
    QByteArray reply(static_cast<qsizetype>(replyLength), Qt::Uninitialized);
    // The first replyLength bytes of the buffer swapped back pairwise.
    for (unsigned i = 0; i < replyLength; ++i)
        reply[i] = static_cast<char>(in_[i ^ 1u]);
    return reply;
}

bool USBFunctions::checkUSB(TopfieldUSBContext *context)
{
    const QByteArray cancel = prepareCommand(usb::kCmdCancel);
    std::optional<QByteArray> reply = sendCommand(cancel, context, true, true);
    for (int retries = 0; !wellFormed(reply) && retries < kCancelRetries && !gone_; ++retries) {
        systemLog(QStringLiteral("incorrect response"));
        reply = sendCommand(cancel, context, true, true);
    }
    silent_ = silent_ || (!wellFormed(reply) && !gone_);
    return wellFormed(reply);
}

std::optional<QByteArray> USBFunctions::getFileList(
    TopfieldUSBContext *context, const QString &path)
{
    if (!context)
        return std::nullopt;
    QByteArray data = usb::latin1(path);
    data.append('\0');
    const QByteArray packet = prepareCommand(usb::kCmdDirList, data);
    checkUSB(context);
    return sendCommand(packet, context, true, true);
}

bool USBFunctions::uploadFile(const QString &path, qint64 size, const QString &fromPath,
    const QByteArray &attributes, TopfieldUSBContext *device)
{
    const QString fileName = path.section(QLatin1Char('/'), -1);
    const QByteArray sendPacket
        = prepareCommand(usb::kCmdFileSend, usb::fileSendRequest(fromPath, fileName));
    const QByteArray cancel = prepareCommand(usb::kCmdCancel);
    const QByteArray start = prepareCommand(usb::kCmdFileStart, attributes);
    const QByteArray end = prepareCommand(usb::kCmdFileEnd);

    // Bounded like the connection check: a recorder that never answers must not hang the
    // upload, and its file is given up.
    std::optional<QByteArray> reply = sendCommand(cancel, device, true, true);
    for (int retries = 0; !wellFormed(reply); ++retries) {
        if (gone_)
            return false;
        systemLog(QStringLiteral("incorrect response"));
        if (retries == kCancelRetries) {
            silent_ = true;
            return false;
        }
        reply = sendCommand(cancel, device, true, true);
    }
    silent_ = false; // it answers again
    if (!isSuccess(reply))
        sendCommand(cancel, device, true, false);

    sendCommand(sendPacket, device, true, true);
    sendCommand(start, device, true, true);

    // An unreadable file must not reach the recorder as a file of zeros.
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        systemLog(QStringLiteral("cannot read ") + path);
        sendCommand(cancel, device, true, false);
        return false;
    }
    bool ok = true;
    qint64 offset = 0;
    const unsigned rate = static_cast<unsigned>(usb::rate);
    std::vector<std::uint8_t> buffer(16 + rate + 1 + kSlack, 0);
    do {
        const qint64 got = file.read(reinterpret_cast<char *>(buffer.data()) + 16, rate);
        const unsigned chunk = got > 0 ? static_cast<unsigned>(got) : 0u;
        const unsigned length = buildDataPacket(buffer, offset, chunk);
        offset += usb::rate;
        reply = exchange(buffer, length, device, true, true);
        if (!wellFormed(reply) && !gone_) {
            systemLog(QStringLiteral("incorrect length response"));
            reply = exchange(buffer, length, device, true, true);
            // Twice without an answer: the recorder has stopped listening, and the rest
            // of the file would only wait out the time limits packet by packet.
            silent_ = !wellFormed(reply) && !gone_;
        }
        if (gone_ || silent_)
            return false;
        if (!isSuccess(reply)) {
            ok = false;
            const QByteArray code = reply ? reply->mid(4, 4) : QByteArray();
            systemLog(QString::fromLatin1(reply ? reply->toHex() : QByteArray()) + QLatin1Char(',')
                + QString::fromLatin1(code.toHex()));
        }
    } while (offset < size);

    const std::optional<QByteArray> endReply = sendCommand(end, device, true, true);
    file.close();
    return ok && isSuccess(endReply);
}
