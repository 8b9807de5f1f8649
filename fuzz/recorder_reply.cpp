// Recorder replies: a transport whose reads hand out the fuzzer's bytes, driven through the
// connection check and the folder listing, whose entries are decoded as the upload does.
// Input: per read, one status byte (non-zero: the read fails), two length bytes, the data.
#include "FuzzSupport.h"
#include "device/DataHandler.h"
#include "device/USBFunctions.h"

#include <algorithm>
#include <cstring>

namespace
{

class ScriptedTransport : public UsbTransport
{
public:
    ScriptedTransport(const uint8_t *data, size_t size)
        : p_(data)
        , end_(data + size)
    {
    }
    int open() override { return 0; }
    int writePipe(const std::uint8_t *, int, int, int) override { return 0; }
    int readPipe(std::uint8_t *buffer, int length, int *received, int, int) override
    {
        *received = 0;
        if (end_ - p_ < 3)
            return usbstatus::kTimeout;
        const uint8_t status = p_[0];
        const size_t want = size_t(p_[1]) | size_t(p_[2]) << 8;
        p_ += 3;
        const size_t n = std::min({ want, size_t(end_ - p_), size_t(length) });
        std::memcpy(buffer, p_, n);
        p_ += n;
        *received = int(n);
        return status % 4 == 3 ? usbstatus::kPipe : 0;
    }
    int clearPipeStallBothEnds(int) override { return 0; }
    int closeInterface() override { return 0; }
    int releaseInterface() override { return 0; }
    int closeDevice() override { return 0; }
    int releaseDevice() override { return 0; }

private:
    const uint8_t *p_;
    const uint8_t *end_;
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::setUp();
    setUsbOutSink([](const std::string &) {});
    usb::timeLimits = { 1, 1, 1, 1 };
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    auto transport = std::make_shared<ScriptedTransport>(data, size);
    TopfieldUSBContext context { transport, transport };
    USBFunctions usbf;
    usbf.checkUSB(&context);
    const std::optional<QByteArray> reply = usbf.getFileList(&context, QStringLiteral("\\DataFiles"));
    if (!reply)
        return 0;
    (void)usb::codeName(usb::replyCode(*reply).value_or(0));
    const QByteArray entries = reply->mid(8);
    for (qsizetype at = 0; at < entries.size(); at += DataHandler::kEntrySize) {
        std::optional<TFFile> f
            = DataHandler::getTFFileFromSwappedHexData(entries.mid(at, DataHandler::kEntrySize));
        if (!f)
            continue;
        DataHandler::convertRawDataToUseful(*f);
        // What is decoded encodes back to the same entry.
        const QByteArray again = DataHandler::getDataFromTFFile(*f, f->name.value_or(QString()));
        FUZZ_REQUIRE(again.size() == DataHandler::kEntrySize);
        DataHandler handler;
        handler.setFileList({ *f });
        for (const char *column : { "name", "size", "date", "type" })
            (void)handler.objectValue(QString::fromLatin1(column), 0);
    }
    return 0;
}
