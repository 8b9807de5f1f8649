#include "device/USBFunctions.h"

#include <QRandomGenerator>
#include <gtest/gtest.h>
#include <string>

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

// Accepts every transfer: the tests here only look at what is written out.
class SilentTransport : public UsbTransport
{
public:
    int open() override { return 0; }
    int writePipe(const std::uint8_t *, int, int, int) override { return 0; }
    int readPipe(std::uint8_t *, int, int *received, int, int) override
    {
        *received = 0;
        return 0;
    }
    int clearPipeStallBothEnds(int) override { return 0; }
    int closeInterface() override { return 0; }
    int releaseInterface() override { return 0; }
    int closeDevice() override { return 0; }
    int releaseDevice() override { return 0; }
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
    SilentTransport t;
    usb::kBlockSize = 4;
    usb::doSend(&t, &t, u8(data), 2);
    usb::debug = 0;
    EXPECT_EQ(out.text, "sending:\n 3031 0000 0000 0000 0000 0000 0000 0000\t01..............\n");
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

namespace
{

// A back end whose open fails with a given status and words.
class FailingTransport : public SilentTransport
{
public:
    FailingTransport(int status, std::string failure)
        : status_(status)
        , failure_(std::move(failure))
    {
    }
    int open() override { return status_; }
    std::string openFailure() const override { return failure_; }

private:
    int status_;
    std::string failure_;
};

struct ConnectCase {
    const char *name;
    int status;
    const char *backEndSays;
    const char *failure; // connectFailure()
};

class ConnectFailure : public ::testing::TestWithParam<ConnectCase>
{
protected:
    ~ConnectFailure() override { USBFunctions::setTransportFactory({}); }
    OutCapture out;
};

} // namespace

TEST_P(ConnectFailure, SaysWhyInOneLine)
{
    const ConnectCase &c = GetParam();
    USBFunctions::setTransportFactory(
        [&c] { return std::make_unique<FailingTransport>(c.status, c.backEndSays); });
    USBFunctions usbf;
    EXPECT_EQ(usbf.initializeUSB(), nullptr);
    EXPECT_EQ(usbf.connectFailure().toStdString(), c.failure);
    EXPECT_EQ(out.text, "Could not connect to Topfield\n");
}

INSTANTIATE_TEST_SUITE_P(, ConnectFailure,
    ::testing::Values(
        ConnectCase { "NothingOnTheBus", usbstatus::kNotFound, "", "No recorder found on USB." },
        ConnectCase { "GoneWhileOpening", usbstatus::kNoDevice, "", "No recorder found on USB." },
        // The back end's own words are the more precise.
        ConnectCase { "NoPermission", -3,
            "No permission to open the recorder at /dev/bus/usb/001/004: install Pallaro's udev "
            "rule",
            "No permission to open the recorder at /dev/bus/usb/001/004: install Pallaro's udev "
            "rule" },
        ConnectCase { "Busy", -6,
            "The recorder at /dev/bus/usb/001/004 is in use by another program.",
            "The recorder at /dev/bus/usb/001/004 is in use by another program." },
        ConnectCase { "ListingFailedIsNotAMissingRecorder", usbstatus::kNotFound,
            "The USB devices cannot be listed: Insufficient memory.",
            "The USB devices cannot be listed: Insufficient memory." },
        // An error the back end does not explain is not passed off as a missing recorder.
        ConnectCase { "UnexplainedError", usbstatus::kIo, "", "" }),
    [](const auto &info) { return std::string(info.param.name); });
