#include "device/USBFunctions.h"
#include "support/TempHome.h"

#include <QRandomGenerator>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace
{

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(static_cast<char>(v));
    return out;
}

const std::uint8_t *u8(const QByteArray &b)
{
    return reinterpret_cast<const std::uint8_t *>(b.constData());
}

// Records every transfer as the back end sees it.
class RecordingTransport : public UsbTransport
{
public:
    std::vector<int> writes, reads;
    QByteArray lastWrite, nextReply;
    int readStatus = 0, clears = 0;
    int closeDeviceStatus = 0, releaseDeviceStatus = 0;
    int closeDeviceCalls = 0, releaseDeviceCalls = 0;

    int open() override { return 0; }
    int writePipe(const std::uint8_t *b, int length, int, int) override
    {
        writes.push_back(length);
        lastWrite = QByteArray(reinterpret_cast<const char *>(b), length);
        return 0;
    }
    int readPipe(std::uint8_t *buffer, int length, int *received, int, int) override
    {
        reads.push_back(length);
        if (readStatus != 0)
            return readStatus;
        *received = static_cast<int>(std::min<qsizetype>(length, nextReply.size()));
        std::memcpy(buffer, nextReply.constData(), static_cast<std::size_t>(*received));
        return 0;
    }
    int clearPipeStallBothEnds(int pipe) override
    {
        clears += pipe == 2;
        return 0;
    }
    int closeInterface() override { return 0; }
    int releaseInterface() override { return 0; }
    int closeDevice() override
    {
        ++closeDeviceCalls;
        return closeDeviceStatus;
    }
    int releaseDevice() override
    {
        ++releaseDeviceCalls;
        return releaseDeviceStatus;
    }
};

class OutCapture
{
public:
    OutCapture()
    {
        setUsbOutSink([this](const std::string &line) { text += line; });
    }
    ~OutCapture() { setUsbOutSink({}); }
    std::string text;
};

} // namespace

TEST(Transport, CheckValueIsCrc16Arc)
{
    EXPECT_EQ(USBFunctions::findCRC(u8("123456789"), 9), 0xBB3D);
    EXPECT_EQ(USBFunctions::findCRC(u8("123456789"), 0), 0);
    // The fast path over long buffers agrees with the byte-wise definition at every length.
    QByteArray data(1000, '\0');
    for (char &c : data)
        c = static_cast<char>(QRandomGenerator::global()->bounded(256));
    for (unsigned length : { 1u, 7u, 8u, 9u, 15u, 16u, 17u, 999u, 1000u }) {
        std::uint16_t crc = 0;
        for (unsigned i = 0; i < length; ++i)
            crc = static_cast<std::uint16_t>(
                (crc >> 8) ^ usb::crc16Tbl[(crc ^ u8(data)[i]) & 0xFF]);
        EXPECT_EQ(USBFunctions::findCRC(u8(data), length), crc) << length;
    }
}

TEST(Transport, SwapPadsOddLengthsAndExchangesPairs)
{
    EXPECT_EQ(USBFunctions::swap(bytes({ 1, 2, 3 })), bytes({ 2, 1, 0, 3 }));
    EXPECT_EQ(USBFunctions::swap(bytes({ 1, 2 })), bytes({ 2, 1 }));
    EXPECT_EQ(USBFunctions::swap(QByteArray()), QByteArray());
}

TEST(Transport, SendAndReceiveRoundToTheGranuleAndSendsAvoidMultiplesOf512)
{
    // length, granule (64 high speed, 4 full speed), send transfer, receive transfer
    const unsigned cases[][4] = { { 10, 64, 64, 64 }, { 480, 64, 576, 512 }, { 512, 64, 576, 512 },
        { 1024, 64, 1088, 1024 }, { 510, 4, 516, 512 }, { 512, 4, 516, 512 }, { 8, 4, 8, 8 },
        { 9, 4, 12, 12 }, { 65535, 4, 65540, 65536 }, { 65535, 64, 65600, 65536 } };
    OutCapture out;
    std::vector<std::uint8_t> buffer(65600, 0);
    for (const auto &[length, granule, send, receive] : cases) {
        RecordingTransport t;
        usb::kBlockSize = granule;
        EXPECT_EQ(usb::doSend(&t, &t, buffer.data(), length), 0);
        EXPECT_EQ(usb::doRecv(&t, &t, buffer.data(), length), 0);
        EXPECT_EQ(t.writes, std::vector<int> { int(send) }) << length << "/" << granule;
        EXPECT_EQ(t.reads, std::vector<int> { int(receive) }) << length << "/" << granule;
    }
    RecordingTransport t;
    EXPECT_EQ(usb::doRecv(&t, &t, buffer.data(), 65536), 1); // never reaches the bus
    EXPECT_TRUE(t.reads.empty());
    EXPECT_EQ(out.text, "");
}

TEST(Transport, FailedReceiveClearsTheStallAndAnswersTheClearing)
{
    OutCapture out;
    RecordingTransport t;
    t.readStatus = usbstatus::kTimeout;
    std::vector<std::uint8_t> buffer(65536, 0);
    EXPECT_EQ(usb::doRecv(&t, &t, buffer.data(), 65535), 0);
    EXPECT_EQ(t.clears, 1);
    EXPECT_EQ(out.text, "read err 2: fffffff9\nresetting\n");
}

TEST(Transport, HexDumpLayout)
{
    QByteArray data = QByteArray("0123456789:;<=>?@ABC") + QByteArray(12, '\0');
    data.replace(3, 4, " ~}!");
    EXPECT_EQ(usb::hexDumpText(u8(data), 20),
        " 3031 3220 7e7d 2137 3839 3a3b 3c3d 3e3f\t012..}!789:;<=>?\n"
        " 4041 4243 0000 0000 0000 0000 0000 0000\t@ABC............\n");
    EXPECT_EQ(usb::hexDumpText(u8(data), 0), "");
    OutCapture out;
    usb::debug = 1;
    RecordingTransport t;
    usb::kBlockSize = 4;
    usb::doSend(&t, &t, u8(data), 2);
    usb::debug = 0;
    EXPECT_EQ(out.text, "sending:\n 3031 0000 0000 0000 0000 0000 0000 0000\t01..............\n");
}

TEST(Transport, OpenAndCloseMessages)
{
    OutCapture out;
    USBFunctions::setTransportFactory([] { return std::unique_ptr<UsbTransport>(); });
    USBFunctions f;
    EXPECT_EQ(f.initializeUSB(), nullptr);
    EXPECT_EQ(f.myContext(), nullptr);
    EXPECT_EQ(out.text, "Could not connect to Topfield\n");

    out.text.clear();
    USBFunctions::setTransportFactory([] {
        auto t = std::make_unique<RecordingTransport>();
        t->closeDeviceStatus = usbstatus::kIo;
        t->releaseDeviceStatus = 5;
        return t;
    });
    auto context = f.initializeUSB();
    ASSERT_NE(context, nullptr);
    EXPECT_EQ(f.myContext(), context.get());
    f.closeDevice(context.get());
    auto *t = static_cast<RecordingTransport *>(context->device.get());
    EXPECT_EQ(std::make_pair(t->closeDeviceCalls, t->releaseDeviceCalls), std::make_pair(1, 1));
    EXPECT_EQ(out.text,
        "Connected to Topfield\n"
        "dealWithDevice: error closing device - ffffffff\n"
        "dealWithDevice: error releasing device - 00000005\n");

    // A failed open leaves the earlier context in place.
    USBFunctions::setTransportFactory([] { return std::unique_ptr<UsbTransport>(); });
    EXPECT_EQ(f.initializeUSB(), nullptr);
    EXPECT_EQ(f.myContext(), context.get());
    USBFunctions::setTransportFactory({});

    out.text.clear();
    interfaceOpened(1, 2);
    EXPECT_EQ(usb::kBlockSize, 64u);
    interfaceOpened(1, 1);
    EXPECT_EQ(std::make_pair(usb::kBlockSize, usb::connectedSpeed), std::make_pair(4u, 1));
    EXPECT_EQ(out.text,
        "confnum: 00000001, dspeed: 00000002, blockS:64\n"
        "confnum: 00000001, dspeed: 00000001, blockS:4\n");
}

TEST(Packets, ExactWireBytes)
{
    EXPECT_EQ(USBFunctions::prepareCommand(usb::kCmdCancel),
        bytes({ 0x08, 0x00, 0x40, 0x01, 0x00, 0x00, 0x03, 0x00 }));
    EXPECT_EQ(USBFunctions::prepareCommand(usb::kCmdFileEnd),
        bytes({ 0x08, 0x00, 0x4C, 0x07, 0x00, 0x00, 0x0B, 0x10 }));
    EXPECT_EQ(USBFunctions::prepareCommand(usb::kCmdDirList, QByteArray("\\ProgramFiles\\", 15)),
        bytes({ 0x17, 0x00, 0xE1, 0x7F, 0x00, 0x00, 0x02, 0x10, 0x50, 0x5C, 0x6F, 0x72, 0x72, 0x67,
            0x6D, 0x61, 0x69, 0x46, 0x65, 0x6C, 0x5C, 0x73, 0x00, 0x00 }));
    // One data byte: length 9, sent as 10 bytes with the fill byte before the data byte.
    const QByteArray one = USBFunctions::prepareCommand(usb::kCmdFileData, bytes({ 0xAB }));
    ASSERT_EQ(one.size(), 10);
    EXPECT_EQ(one.left(2) + one.right(2), bytes({ 9, 0, 0, 0xAB }));
}

TEST(Packets, FileSendRequestLayout)
{
    const QByteArray folder("\\ProgramFiles\\");
    const QByteArray r = usb::fileSendRequest("\\ProgramFiles\\", "20070105.tgd");
    EXPECT_EQ(r,
        QByteArray(1, '\0') + bytes({ 0, 12 + 14 + 2 }) + folder + "\\20070105.tgd"
            + QByteArray(84, '\0'));
    // 95 bytes or more: only the final zero follows, and the name stops at 95.
    const QByteArray cut = usb::fileSendRequest("\\A\\", QString(120, QLatin1Char('n')));
    EXPECT_EQ(cut,
        QByteArray(1, '\0') + bytes({ 0, 95 + 3 + 2 }) + "\\A\\\\" + QByteArray(95, 'n')
            + QByteArray(1, '\0'));
}

TEST(Packets, ReplyTakesTheLengthFieldAndSwapsBack)
{
    OutCapture out;
    auto t = std::make_shared<RecordingTransport>();
    TopfieldUSBContext context { t, t };
    usb::kBlockSize = 64;
    USBFunctions f;
    const QByteArray cancel = USBFunctions::prepareCommand(usb::kCmdCancel);

    // A 20-byte reply followed by unrelated bytes in the buffer.
    const QByteArray logical = bytes({ 0x00, 0x14, 0, 0, 0x00, 0x00, 0x10, 0x03 }) + "abcdefghijkl";
    t->nextReply = USBFunctions::swap(logical) + QByteArray(40, 'x');
    const auto reply = f.sendCommand(cancel, &context, true, true);
    ASSERT_TRUE(reply);
    EXPECT_EQ(*reply, logical);
    EXPECT_EQ(usb::replyCode(*reply), usb::kReplyDirBlock);
    EXPECT_EQ(t->lastWrite, cancel + QByteArray(56, '\0'));

    // Nothing received: an empty reply. Expect or keep off: none.
    t->nextReply.clear();
    EXPECT_EQ(f.sendCommand(cancel, &context, true, true), QByteArray());
    EXPECT_FALSE(f.sendCommand(cancel, &context, true, false));
    EXPECT_FALSE(f.sendCommand(cancel, &context, false, true));
    EXPECT_EQ(t->reads.size(), 3u);
    EXPECT_FALSE(f.getFileList(nullptr, "\\ProgramFiles\\"));
}
