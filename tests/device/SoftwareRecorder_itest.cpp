#include "device/DataHandler.h"
#include "device/SoftwareRecorder.h"
#include "device/USBFunctions.h"
#include "support/TempHome.h"

#include <QDir>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace
{

// A recorder on a temporary disk, opened through the transport as the upload does, with
// short time limits so that silence costs milliseconds. Full speed unless a test asks for
// the high speed bus and its larger granule.
class RecorderTest : public ::testing::Test
{
protected:
    explicit RecorderTest(int speed = 1)
        : speed(speed)
    {
    }
    void SetUp() override
    {
        setUsbOutSink([this](const std::string &line) { out += line; });
        usb::timeLimits = usb::TimeLimits {};
        usb::timeLimits.recvNoData = 3;
        recorder = std::make_shared<SoftwareRecorder>(disk.path(), speed);
        USBFunctions::setTransportFactory(
            [r = recorder] { return SoftwareRecorder::transport(r); });
        usbf.setRate(60928);
        context = usbf.initializeUSB();
        ASSERT_NE(context, nullptr);
    }
    void TearDown() override
    {
        usbf.closeDevice(context.get());
        USBFunctions::setTransportFactory({});
        setUsbOutSink({});
        usb::timeLimits = usb::TimeLimits {};
    }

    QString localFile(const QString &name, const QByteArray &contents)
    {
        const QString path = local.path() + "/" + name;
        writeFile(path, contents);
        return path;
    }
    bool upload(const QString &path)
    {
        const auto a = DataHandler::attributesOfFile(path);
        const QByteArray record = DataHandler::getDataFromTFFile(
            DataHandler::extractAttributes(a.value_or(LocalFileAttributes {})),
            path.section('/', -1));
        return usbf.uploadFile(path, a ? static_cast<qint64>(a->size) : 100, "\\ProgramFiles\\",
            record, context.get());
    }
    static QByteArray randomBytes(int n)
    {
        QByteArray b(n, '\0');
        for (char &c : b)
            c = static_cast<char>(QRandomGenerator::global()->bounded(256));
        return b;
    }

    const int speed;
    QTemporaryDir disk, local;
    std::string out;
    SystemLogCapture log;
    std::shared_ptr<SoftwareRecorder> recorder;
    USBFunctions usbf;
    std::shared_ptr<TopfieldUSBContext> context;
};

class HighSpeedRecorderTest : public RecorderTest
{
protected:
    HighSpeedRecorderTest()
        : RecorderTest(2)
    {
    }
};

} // namespace

TEST_F(HighSpeedRecorderTest, FilesArriveByteIdenticalAtEverySize)
{
    EXPECT_EQ(usbf.getSpeed(), 2);
    EXPECT_NE(out.find("Connected to Topfield\n"), std::string::npos) << out;
    EXPECT_NE(out.find("blockS:64\n"), std::string::npos) << out;
    // Sizes around the chunk and around the 512 rule of both granules.
    for (int size : { 0, 1, 2, 496, 503, 504, 60928, 60929, 130000, 200000 }) {
        const QByteArray contents = randomBytes(size);
        const QString name = QString("f%1.tgd").arg(size);
        ASSERT_TRUE(upload(localFile(name, contents))) << size;
        EXPECT_EQ(readFile(disk.path() + "/ProgramFiles/" + name), contents) << size;
    }
    EXPECT_EQ(recorder->stats().violations, QStringList());
    EXPECT_EQ(recorder->stats().filesWritten.size(), 10);
    // 0 and 1 and 2 .. bytes: one data packet each; 130000 bytes: three at rate 60928.
    EXPECT_EQ(recorder->commandCount(usb::kCmdFileData), 1 + 1 + 1 + 1 + 1 + 1 + 1 + 2 + 3 + 4);
}

TEST_F(RecorderTest, ShortRepliesAreRetried)
{
    recorder->faults().shortAnswer = 3; // the first three replies: 4 bytes
    EXPECT_TRUE(usbf.checkUSB(context.get()));
    EXPECT_EQ(recorder->commandCount(usb::kCmdCancel), 4);
    EXPECT_EQ(log.lines().count("incorrect response"), 3);

    // A data packet's short reply: resent once, and the resend is accepted.
    const QByteArray contents = randomBytes(1000);
    recorder->faults().shortAnswer = 1;
    recorder->faults().shortLength = 6;
    recorder->faults().shortAnswerCommand = usb::kCmdFileData;
    EXPECT_TRUE(upload(localFile("s.tgd", contents)));
    EXPECT_EQ(log.lines().count("incorrect length response"), 1);
    EXPECT_EQ(recorder->commandCount(usb::kCmdFileData), 2);
    EXPECT_EQ(readFile(disk.path() + "/ProgramFiles/s.tgd"), contents);
}

TEST_F(HighSpeedRecorderTest, RefusedDataPacketFailsTheFile)
{
    recorder->faults().refuse(usb::kCmdFileData, 1);
    EXPECT_FALSE(upload(localFile("r.tgd", randomBytes(100000))));
    EXPECT_FALSE(QFile::exists(disk.path() + "/ProgramFiles/r.tgd"));
    // The refusal is logged as the reply and its code, and the upload went on to the end.
    // The second packet is refused too: the recorder will not take data out of order.
    EXPECT_EQ(log.lines().filter(QRegularExpression("^0008c0c100000001,00000001$")).size(), 2)
        << log.lines().join("|").toStdString();
    EXPECT_EQ(recorder->commandCount(usb::kCmdFileEnd), 1);

    // A refused end fails the file as well.
    recorder->faults().refuse(usb::kCmdFileEnd, 1);
    EXPECT_FALSE(upload(localFile("e.tgd", randomBytes(10))));
    // And then the recorder is well again.
    EXPECT_TRUE(upload(localFile("g.tgd", randomBytes(10))));
}

TEST_F(RecorderTest, StalledPipeAndSlowAnswers)
{
    recorder->faults().stallReads = 1;
    EXPECT_TRUE(usbf.checkUSB(context.get()));
    EXPECT_EQ(recorder->commandCount(usb::kCmdCancel), 2);
    EXPECT_NE(out.find("read err 2: fffffff7\nresetting\n"), std::string::npos);

    usb::timeLimits.recvNoData = 200;
    recorder->faults().slowAnswerMs = 20; // within the limit: waited for
    const QByteArray contents = randomBytes(3000);
    EXPECT_TRUE(upload(localFile("slow.tgd", contents)));
    EXPECT_EQ(readFile(disk.path() + "/ProgramFiles/slow.tgd"), contents);

    usb::timeLimits.recvNoData = 5;
    recorder->faults().slowAnswerMs = 50; // beyond it: no answer, and the late reply is dropped
    EXPECT_FALSE(usbf.checkUSB(context.get()));
    EXPECT_EQ(recorder->stats().violations, QStringList());
}

TEST_F(RecorderTest, UnreadableLocalFileSendsNoData)
{
    const QString folder = local.path() + "/dir.tgd";
    QDir().mkpath(folder);
    EXPECT_FALSE(upload(folder));
    EXPECT_EQ(recorder->commandCount(usb::kCmdFileData), 0);
    EXPECT_FALSE(QFile::exists(disk.path() + "/ProgramFiles/dir.tgd"));
    // The recorder is left ready for the next file.
    EXPECT_TRUE(upload(localFile("next.tgd", "n")));
}

TEST_F(RecorderTest, RecorderChecksWhatItReceives)
{
    std::vector<std::uint8_t> buffer(1024, 0);
    QByteArray packet = USBFunctions::prepareCommand(usb::kCmdCancel);
    packet[2] = static_cast<char>(packet[2] ^ 0x55); // CRC broken
    std::memcpy(buffer.data(), packet.constData(), 8);
    UsbTransport *t = context->interface.get();
    const unsigned g = usb::kBlockSize;
    ASSERT_EQ(t->writePipe(buffer.data(), static_cast<int>(g < 8 ? 8 : g), 10, 10), 0);
    ASSERT_EQ(t->writePipe(buffer.data(), 512, 10, 10), 0); // the recorder never sees its end
    ASSERT_EQ(t->writePipe(buffer.data(), 6, 10, 10), 0);
    const QStringList v = recorder->stats().violations;
    ASSERT_EQ(v.size(), 4) << v.join("|").toStdString();
    EXPECT_TRUE(v.contains("CRC mismatch"));
    EXPECT_TRUE(v.contains("transfer of 512 bytes is a multiple of 512"));
    int received = 0;
    std::vector<std::uint8_t> in(65536, 0);
    ASSERT_EQ(t->readPipe(in.data(), 65536, &received, 5, 5), 0);
    EXPECT_EQ(usb::replyCode(
                  USBFunctions::swap(QByteArray(reinterpret_cast<char *>(in.data()), received))),
        usb::kReplyFail);
}
