#include "device/USBFunctions.h"

#include "base/SystemLog.h"

#include <QMutex>
#include <array>
#include <cstdarg>
#include <cstdio>
#include <vector>

namespace usb
{

int debug = 0;
int rate = 65024;
unsigned int kBlockSize = 8;
int connectedSpeed = 0;
TimeLimits timeLimits;

namespace
{
constexpr std::array<std::uint16_t, 256> makeCrcTable()
{
    std::array<std::uint16_t, 256> t {};
    for (unsigned i = 0; i < 256; ++i) {
        std::uint16_t c = static_cast<std::uint16_t>(i);
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? static_cast<std::uint16_t>((c >> 1) ^ 0xA001)
                        : static_cast<std::uint16_t>(c >> 1);
        t[i] = c;
    }
    return t;
}
constexpr std::array<std::uint16_t, 256> kCrcTable = makeCrcTable();

// Slicing tables: byte k of an 8-byte block advanced by 7 - k further zero bytes, so the
// data packets' CRC costs a fraction of the byte-wise loop.
struct CrcSlices {
    std::uint16_t t[8][256];
    CrcSlices()
    {
        for (unsigned i = 0; i < 256; ++i)
            t[0][i] = kCrcTable[i];
        for (int s = 1; s < 8; ++s)
            for (unsigned i = 0; i < 256; ++i)
                t[s][i] = static_cast<std::uint16_t>((t[s - 1][i] >> 8) ^ t[0][t[s - 1][i] & 0xFF]);
    }
};
const CrcSlices &slices()
{
    static const CrcSlices s;
    return s;
}
} // namespace

const std::uint16_t crc16Tbl[256] = {
#define ROW(i) kCrcTable[i], kCrcTable[i + 1], kCrcTable[i + 2], kCrcTable[i + 3]
#define ROW16(i) ROW(i), ROW(i + 4), ROW(i + 8), ROW(i + 12)
    ROW16(0),
    ROW16(16),
    ROW16(32),
    ROW16(48),
    ROW16(64),
    ROW16(80),
    ROW16(96),
    ROW16(112),
    ROW16(128),
    ROW16(144),
    ROW16(160),
    ROW16(176),
    ROW16(192),
    ROW16(208),
    ROW16(224),
    ROW16(240),
#undef ROW16
#undef ROW
};

unsigned sendTransferLength(unsigned length, unsigned granule)
{
    unsigned n = (length + granule - 1) / granule * granule;
    if (n % 512 == 0)
        n += granule;
    return n;
}

unsigned receiveTransferLength(unsigned length, unsigned granule)
{
    return (length + granule - 1) / granule * granule;
}

int doSend(UsbTransport *, UsbTransport *interface, const std::uint8_t *bytes, unsigned length)
{
    if (debug == 1) {
        usbOut("sending:");
        hexDump(bytes, length);
    }
    const unsigned transfer = sendTransferLength(length, kBlockSize);
    const int status = interface->writePipe(
        bytes, static_cast<int>(transfer), timeLimits.sendNoData, timeLimits.sendCompletion);
    if (status != 0)
        usbOut("write err: %08x", static_cast<unsigned>(status));
    return status;
}

int doRecv(UsbTransport *, UsbTransport *interface, std::uint8_t *buffer, unsigned length)
{
    if (length > static_cast<unsigned>(kLargestReceive))
        return 1;
    const unsigned transfer = receiveTransferLength(length, kBlockSize);
    int received = 0;
    const int status = interface->readPipe(buffer, static_cast<int>(transfer), &received,
        timeLimits.recvNoData, timeLimits.recvCompletion);
    if (status != 0) {
        usbOut("read err 2: %08x", static_cast<unsigned>(status));
        usbOut("resetting");
        return interface->clearPipeStallBothEnds(2);
    }
    if (debug == 1) {
        usbOut("receiving: ");
        hexDump(buffer, static_cast<unsigned>(received));
    }
    return 0;
}

std::string hexDumpText(const std::uint8_t *bytes, unsigned length)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    const unsigned rows = (length + 15) / 16;
    out.reserve(rows * 58);
    for (unsigned r = 0; r < rows; ++r) {
        std::uint8_t row[16] = {};
        for (unsigned i = 0; i < 16 && r * 16 + i < length; ++i)
            row[i] = bytes[r * 16 + i];
        for (unsigned i = 0; i < 16; ++i) {
            if (i % 2 == 0)
                out += ' ';
            out += digits[row[i] >> 4];
            out += digits[row[i] & 0xF];
        }
        out += '\t';
        for (unsigned i = 0; i < 16; ++i)
            out += (row[i] >= 0x21 && row[i] <= 0x7D) ? static_cast<char>(row[i]) : '.';
        out += '\n';
    }
    return out;
}

void hexDump(const std::uint8_t *bytes, unsigned length)
{
    const std::string text = hexDumpText(bytes, length);
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        usbOut("%s", text.substr(start, end - start).c_str());
        start = end + 1;
    }
}

const char *codeName(std::uint32_t code)
{
    switch (code) {
    case kReplyFail:
        return "kReplyFail";
    case kReplySuccess:
        return "kReplySuccess";
    case kCmdCancel:
        return "kCmdCancel";
    case kCmdDirList:
        return "kCmdDirList";
    case kReplyDirBlock:
        return "kReplyDirBlock";
    case kCmdFileSend:
        return "kCmdFileSend";
    case kCmdFileStart:
        return "kCmdFileStart";
    case kCmdFileData:
        return "kCmdFileData";
    case kCmdFileEnd:
        return "kCmdFileEnd";
    }
    return "unknown";
}

} // namespace usb

namespace
{
QMutex outMutex;
std::function<void(const std::string &)> &outSink()
{
    static std::function<void(const std::string &)> s;
    return s;
}

USBFunctions::TransportFactory &transportFactory()
{
    static USBFunctions::TransportFactory f;
    return f;
}
} // namespace

void usbOut(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string line(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    std::vsnprintf(line.data(), line.size() + 1, format, args);
    va_end(args);
    line += '\n';
    QMutexLocker lock(&outMutex);
    if (outSink()) {
        outSink()(line);
        return;
    }
    std::fputs(line.c_str(), stdout);
    std::fflush(stdout);
}

void setUsbOutSink(std::function<void(const std::string &)> sink)
{
    QMutexLocker lock(&outMutex);
    outSink() = std::move(sink);
}

void interfaceOpened(unsigned configurationValue, int speedCode)
{
    usb::kBlockSize = speedCode == 2 ? 64 : 4;
    usbOut("confnum: %08x, dspeed: %08x, blockS:%i", configurationValue,
        static_cast<unsigned>(speedCode), static_cast<int>(usb::kBlockSize));
    usb::connectedSpeed = speedCode;
}

USBFunctions::USBFunctions()
{
    usb::debug = 0;
    usb::rate = 65024;
}

void USBFunctions::setTransportFactory(TransportFactory factory)
{
    transportFactory() = std::move(factory);
}

std::shared_ptr<TopfieldUSBContext> USBFunctions::initializeUSB()
{
    usb::kBlockSize = 8;
    std::shared_ptr<UsbTransport> transport
        = transportFactory() ? transportFactory()() : makeLibUsbTransport();
    const int status = transport ? transport->open() : -3;
    if (status != 0) {
        connectFailure_ = transport ? QString::fromStdString(transport->openFailure()) : QString();
        // A back end that found nothing to open need not say so itself.
        if (connectFailure_.isEmpty()
            && (status == usbstatus::kNotFound || status == usbstatus::kNoDevice))
            connectFailure_ = QStringLiteral("No recorder found on USB.");
        usbOut("Could not connect to Topfield");
        return nullptr;
    }
    connectFailure_.clear();
    gone_ = false;
    silent_ = false;
    auto context = std::make_shared<TopfieldUSBContext>();
    context->device = transport;
    context->interface = transport;
    usbOut("Connected to Topfield");
    myContext_ = context;
    return context;
}

void USBFunctions::closeDevice(TopfieldUSBContext *context)
{
    if (!context || !context->interface || !context->device)
        return;
    int ret = context->interface->closeInterface();
    if (ret != 0)
        usbOut(
            "dealWithInterface: unable to close interface. ret = %08x", static_cast<unsigned>(ret));
    ret = context->interface->releaseInterface();
    if (ret != 0)
        usbOut("dealWithInterface: unable to release interface. ret = %08x",
            static_cast<unsigned>(ret));
    ret = context->device->closeDevice();
    if (ret != 0)
        usbOut("dealWithDevice: error closing device - %08x", static_cast<unsigned>(ret));
    ret = context->device->releaseDevice();
    if (ret != 0)
        usbOut("dealWithDevice: error releasing device - %08x", static_cast<unsigned>(ret));
}

std::uint16_t USBFunctions::findCRC(const std::uint8_t *p, unsigned length)
{
    const auto &s = usb::slices().t;
    std::uint16_t crc = 0;
    while (length >= 8) {
        const std::uint16_t a = static_cast<std::uint16_t>(crc ^ (p[0] | (p[1] << 8)));
        crc = static_cast<std::uint16_t>(s[7][a & 0xFF] ^ s[6][a >> 8] ^ s[5][p[2]] ^ s[4][p[3]]
            ^ s[3][p[4]] ^ s[2][p[5]] ^ s[1][p[6]] ^ s[0][p[7]]);
        p += 8;
        length -= 8;
    }
    while (length--)
        crc = static_cast<std::uint16_t>((crc >> 8) ^ usb::crc16Tbl[(crc ^ *p++) & 0xFF]);
    return crc;
}

QByteArray USBFunctions::swap(const QByteArray &data)
{
    const qsizetype n = data.size() + (data.size() % 2);
    QByteArray out(n, Qt::Uninitialized);
    const char *in = data.constData();
    char *o = out.data();
    const qsizetype pairs = data.size() / 2;
    for (qsizetype i = 0; i < pairs; ++i) {
        o[2 * i] = in[2 * i + 1];
        o[2 * i + 1] = in[2 * i];
    }
    if (data.size() % 2) {
        o[n - 2] = 0;
        o[n - 1] = in[n - 2];
    }
    return out;
}

void USBFunctions::setDebug(int level)
{
    usb::debug = level;
    systemLog(QStringLiteral("Debug level: %1").arg(level));
}

void USBFunctions::setRate(int newRate)
{
    usb::rate = newRate;
    systemLog(QStringLiteral("New rate set: %1").arg(newRate));
}

int USBFunctions::getSpeed() const
{
    return usb::connectedSpeed;
}
