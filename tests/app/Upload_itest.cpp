#include "base/Paths.h"
#include "base/Settings.h"
#include "device/DataHandler.h"
#include "device/SoftwareRecorder.h"
#include "device/USBFunctions.h"
#include "support/AppFixture.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const QString kCheck = "Checking number of TGD files on Topfield: ";

// YYYYMMDD of today + days.
QString day(int days)
{
    return QDate::currentDate().addDays(days).toString("yyyyMMdd");
}

// An application with two future day files, uploading to a software recorder.
class UploadTest : public AppFixture, public ::testing::Test {
protected:
    void SetUp() override
    {
        setUsbOutSink([this](const std::string &line) { usbOut += line; });
        usb::timeLimits = usb::TimeLimits {};
        usb::timeLimits.recvNoData = 2;
        controller.awakeFromNib();
        rec.calls.clear();
        recorder = std::make_shared<SoftwareRecorder>(disk.path());
        USBFunctions::setTransportFactory([this] { return SoftwareRecorder::transport(recorder); });
    }
    void TearDown() override
    {
        USBFunctions::setTransportFactory({});
        setUsbOutSink({});
        usb::timeLimits = usb::TimeLimits {};
    }

    void addDays()
    {
        ASSERT_TRUE(writeFile(out() + "/" + day(1) + ".tgd", first));
        ASSERT_TRUE(writeFile(out() + "/" + day(2) + ".tgd", second));
    }
    QByteArray sent(const QString &folder, int days) const
    {
        return readFile(disk.path() + "/" + folder + "/" + day(days) + ".tgd");
    }
    // Uploads; the StatusLog shows one line per day with its outcome, then `tail`.
    void expectUpload(bool ok, const QStringList &outcomes, const QString &tail)
    {
        EXPECT_EQ(controller.uploadEPG(), ok);
        QString text;
        for (int i = 0; i < outcomes.size(); ++i)
            text += "Uploading: " + day(i + 1) + ".tgd..." + outcomes[i] + "\n";
        EXPECT_EQ(log.text(), text + tail);
    }

    QTemporaryDir disk;
    std::string usbOut;
    std::shared_ptr<SoftwareRecorder> recorder;
    const QByteArray first = QByteArray("first day\r\n").repeated(5000);
    const QByteArray second = QByteArray("second day\r\n").repeated(7);
};

TEST_F(UploadTest, TwoDaysArriveByteIdentical)
{
    addDays();
    log.printStatus("old text");
    expectUpload(true, { "Done", "Done" }, kCheck + "Correct!");
    EXPECT_EQ(std::make_pair(sent("ProgramFiles", 1), sent("ProgramFiles", 2)),
        std::make_pair(first, second));
    EXPECT_EQ(recorder->stats().violations, QStringList());
    EXPECT_EQ(rec.calls, QStringList({ "writeOutData", "beep" }));
    EXPECT_EQ(recorder->stats().closes, 1);
    EXPECT_EQ(syslog.lines().mid(0, 2), (QStringList { "Debug level: 0", "New rate set: 60928" }));
    // The request named the folder with its own backslash and the upload's.
    EXPECT_EQ(recorder->stats().filesWritten.first(), "\\ProgramFiles\\\\" + day(1) + ".tgd");
    // Attributes travel: the recorder's copy has the local file's time.
    EXPECT_EQ(QFileInfo(out() + "/" + day(1) + ".tgd").lastModified().toSecsSinceEpoch(),
        QFileInfo(disk.path() + "/ProgramFiles/" + day(1) + ".tgd")
            .lastModified()
            .toSecsSinceEpoch());
}

TEST_F(UploadTest, UploadFolderSetting)
{
    addDays();
    Settings::setValue("uploadFolder", QStringList { "DataFiles", "EPG" });
    EXPECT_EQ(EPGController::recorderFolder(), "\\DataFiles\\EPG\\");
    // The recorder refuses a folder it does not have.
    expectUpload(false, { "Failed", "Failed" }, kCheck + "Error on last command.");
    QDir(disk.path()).mkpath("DataFiles/EPG");
    EXPECT_TRUE(controller.uploadEPG());
    EXPECT_EQ(sent("DataFiles/EPG", 2), second);
}

TEST_F(UploadTest, NoRecorderAtAll)
{
    addDays();
    recorder->faults().absent = true;
    expectUpload(false, {}, "Error in connecting to Topfield\n");
    EXPECT_EQ(rec.calls, QStringList { "writeOutData" });
    EXPECT_EQ(usbOut, "Could not connect to Topfield\n");
    // Nor on the real bus: the build machines have no recorder.
    USBFunctions::setTransportFactory({});
    expectUpload(false, {}, "Error in connecting to Topfield\n");
}

TEST_F(UploadTest, RecorderThatNeverAnswers)
{
    addDays();
    recorder->faults().noAnswer = -1;
    // Each file gives up after its ninth cancel; the listing's reply is empty.
    expectUpload(false, { "Failed", "Failed" }, kCheck);
    EXPECT_EQ(recorder->commandCount(usb::kCmdCancel), 9 + 9 + 9);
    EXPECT_EQ(syslog.lines().count("incorrect response"), 9 + 9 + 8);
    EXPECT_EQ(recorder->stats().closes, 1);
    EXPECT_EQ(rec.calls, QStringList({ "writeOutData", "beep" }));
}

TEST_F(UploadTest, RefusedDataPacketAndShortListingReply)
{
    addDays();
    recorder->faults().refuse(usb::kCmdFileData, 1);
    expectUpload(false, { "Failed", "Done" }, kCheck + "Wrong, check upload!");
    recorder->faults().shortAnswer = 1;
    recorder->faults().shortAnswerCommand = usb::kCmdDirList;
    expectUpload(false, { "Done", "Done" }, kCheck);
    EXPECT_EQ(recorder->stats().closes, 2);
}

TEST_F(UploadTest, UnexpectedFirstListingIsAskedAgain)
{
    addDays();
    recorder->faults().overrides.push_back({ usb::kCmdDirList, usb::kReplySuccess, 1 });
    expectUpload(true, { "Done", "Done" }, kCheck + "Correct!");
    EXPECT_EQ(recorder->commandCount(usb::kCmdDirList), 2);
    // The second reply is counted whatever its code.
    recorder->faults().overrides.push_back({ usb::kCmdDirList, usb::kReplySuccess, 2 });
    expectUpload(false, { "Done", "Done" }, kCheck + "Wrong, check upload!");
}

TEST_F(UploadTest, TailAfterTheEntriesIsNotAnEntry)
{
    addDays();
    const QByteArray fake = DataHandler::getDataFromTFFile(TFFile {}, "fake.tgd");
    // One day short on the recorder; a whole extra entry would make up for it, a part never.
    for (int tail : { 1, 14, 57, 113, 114 }) {
        QDir(disk.path() + "/ProgramFiles").removeRecursively();
        QDir(disk.path()).mkpath("ProgramFiles");
        recorder->faults().refuse(usb::kCmdFileSend, 1);
        recorder->faults().directoryTail = fake.left(tail);
        // The refused file failed.
        expectUpload(false, { "Failed", "Done" },
            kCheck + (tail == 114 ? "Correct!" : "Wrong, check upload!"));
    }
}

TEST_F(UploadTest, UnreadableDayFileSendsNothing)
{
    addDays();
    // A folder where a day file should be.
    QDir().mkpath(out() + "/" + day(3) + ".tgd");
    expectUpload(false, { "Done", "Done", "Failed" }, kCheck + "Wrong, check upload!");
    EXPECT_EQ(recorder->commandCount(usb::kCmdFileData), 2);
}

TEST_F(UploadTest, FtpDestinations)
{
    addDays();
    Settings::setValue("connectionMethod", "FTP");
    // Without an FTP URL every file fails, and no recorder is touched.
    expectUpload(false, { "Failed", "Failed" }, "");
    EXPECT_EQ(recorder->stats().opens, 0);
    EXPECT_EQ(rec.calls, QStringList({ "writeOutData", "beep" }));

    QStringList urls;
    controller.setFtpPublisher([&urls](const QString &path, const QString &url) {
        EXPECT_TRUE(url.endsWith(path.section('/', -1)));
        urls << url;
        return true;
    });
    for (const char *url : { "ftp://u:p@127.0.0.1:2121/epg", "ftp://u:p@127.0.0.1:2121/epg/" }) {
        Settings::setValue("FTP URL", url);
        expectUpload(true, { "Done", "Done" }, "");
    }
    const QString a = "ftp://u:p@127.0.0.1:2121/epg/" + day(1) + ".tgd";
    const QString b = "ftp://u:p@127.0.0.1:2121/epg/" + day(2) + ".tgd";
    EXPECT_EQ(urls, (QStringList { a, b, a, b }));
}

} // namespace
