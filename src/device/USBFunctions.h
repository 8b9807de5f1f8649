#pragma once

#include "device/UsbTransport.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// The open recorder: device and interface handles. Both name the same back-end object,
// which plays both roles; transfers use only `interface`. Owned by the upload.
struct TopfieldUSBContext {
    std::shared_ptr<UsbTransport> device;
    std::shared_ptr<UsbTransport> interface;
};

// Module-wide transport state, shared by every USBFunctions object.
namespace usb
{
extern int debug; // 1: hex dump of every transfer
extern int rate; // file bytes per data packet
extern unsigned int kBlockSize; // transfer granule in bytes
extern int connectedSpeed; // 0 low, 1 full, 2 high
extern const std::uint16_t crc16Tbl[256];

// Bulk time limits in milliseconds. Tests shorten them.
struct TimeLimits {
    int sendNoData = 10000;
    int sendCompletion = 20000;
    int recvNoData = 500;
    int recvCompletion = 20000;
};
extern TimeLimits timeLimits;

constexpr int kLargestReceive = 65535;
constexpr int kReceiveBufferSize = 65536;

// Lengths as the transfers carry them: rounded up to the granule; a send never a multiple
// of 512 (one more granule then), because the recorder would wait for a short packet.
unsigned sendTransferLength(unsigned length, unsigned granule);
unsigned receiveTransferLength(unsigned length, unsigned granule);

// Status 0 or the back end's error. `buffer` holds at least the rounded length.
int doSend(
    UsbTransport *device, UsbTransport *interface, const std::uint8_t *bytes, unsigned length);
int doRecv(UsbTransport *device, UsbTransport *interface, std::uint8_t *buffer, unsigned length);

// The dump rows, 16 bytes each: " xxxx xxxx ..." TAB the printable characters, line break.
std::string hexDumpText(const std::uint8_t *bytes, unsigned length);
void hexDump(const std::uint8_t *bytes, unsigned length);

// The packet codes.
enum Code : std::uint32_t {
    kReplyFail = 0x0001,
    kReplySuccess = 0x0002,
    kCmdCancel = 0x0003,
    kCmdDirList = 0x1002,
    kReplyDirBlock = 0x1003,
    kCmdFileSend = 0x1008,
    kCmdFileStart = 0x1009,
    kCmdFileData = 0x100A,
    kCmdFileEnd = 0x100B,
};
const char *codeName(std::uint32_t code);

// The big-endian code at bytes 4-7 of a logical packet; none when shorter than 8 bytes.
std::optional<std::uint32_t> replyCode(const QByteArray &packet);
// ISO Latin 1 bytes of a name or path; characters outside it are dropped.
QByteArray latin1(const QString &text);
// The data of a file-send request to `folder` for `fileName` (the name cut to 95 bytes).
QByteArray fileSendRequest(const QString &folder, const QString &fileName);
} // namespace usb

// The link to a recorder: transport (open, transfers, close) and command protocol.
// Made fresh for each USB upload; runs on the caller's thread.
class USBFunctions
{
public:
    using TransportFactory = std::function<std::unique_ptr<UsbTransport>()>;

    // init: debug output off and the default rate 65024.
    USBFunctions();

    // The back end initializeUSB opens; the default is libusb. An empty function restores it.
    static void setTransportFactory(TransportFactory factory);

    // Opens the recorder: "Connected to Topfield" and the context, or "Could not connect
    // to Topfield" and none (myContext unchanged).
    std::shared_ptr<TopfieldUSBContext> initializeUSB();
    void closeDevice(TopfieldUSBContext *context);
    TopfieldUSBContext *myContext() const { return myContext_.get(); }
    // Why the last initializeUSB failed, in one line; empty when the back end said nothing.
    QString connectFailure() const { return connectFailure_; }
    // The recorder left the bus, or stopped answering, since it was opened: nothing more
    // goes to it over this connection.
    bool recorderGone() const { return gone_; }
    bool recorderSilent() const { return silent_; }

    static std::uint16_t findCRC(const std::uint8_t *bytes, unsigned length);
    static QByteArray swap(const QByteArray &data);
    void setDebug(int level);
    void setRate(int newRate);
    int getSpeed() const;

    // Command protocol.
    static QByteArray prepareCommand(std::uint32_t code, const QByteArray &data = {});
    std::optional<QByteArray> sendCommand(const QByteArray &packet, TopfieldUSBContext *device,
        bool expectResponse, bool careForReturn);
    // Cancels until a reply of 8 bytes or more comes; at most 9 exchanges. Answers whether
    // one came.
    bool checkUSB(TopfieldUSBContext *context);
    std::optional<QByteArray> getFileList(TopfieldUSBContext *context, const QString &path);
    // Sends one file. Answers false when the transfer failed: no answer to the cancel, the
    // local file unreadable, a data packet or the end refused or unanswered.
    bool uploadFile(const QString &path, qint64 size, const QString &fromPath,
        const QByteArray &attributes, TopfieldUSBContext *device);

private:
    // One exchange of a wire packet held in `out`, which has zeroed room for the rounding.
    std::optional<QByteArray> exchange(const std::vector<std::uint8_t> &out, unsigned length,
        TopfieldUSBContext *device, bool expectResponse, bool careForReturn);

    std::shared_ptr<TopfieldUSBContext> myContext_;
    std::vector<std::uint8_t> in_; // the receive buffer, kept between exchanges
    QString connectFailure_;
    bool gone_ = false;
    bool silent_ = false;
};
