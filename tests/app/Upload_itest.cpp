#include "app/EPGController.h"
#include "base/Paths.h"
#include "base/Settings.h"
#include "base/StatusLog.h"
#include "device/DataHandler.h"
#include "device/SoftwareRecorder.h"
#include "device/USBFunctions.h"
#include "support/TempHome.h"
#include "ui/SourceListController.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace
{

int beeps = 0;
void countBeep()
{
    ++beeps;
}

class RecordingKeywords : public KeywordStore
{
public:
    QStringList *calls;
    explicit RecordingKeywords(QStringList *c)
        : calls(c)
    {
    }
    void writeOutData() override { *calls << "writeOutData"; }
    void reloadData(const QString &mode) override { *calls << "reloadData " + mode; }
};

// An application with two future day files, uploading to a software recorder.
class UploadTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        setUsbOutSink([this](const std::string &line) { usbOut += line; });
        usb::timeLimits = usb::TimeLimits {};
        usb::timeLimits.recvNoData = 2;
        beeps = 0;
        controller.setBeep(countBeep);
        controller.setSourceList(&slc);
        controller.setKeywordStore(&keywords);
        controller.awakeFromNib();
        recorder = std::make_shared<SoftwareRecorder>(disk.path());
        USBFunctions::setTransportFactory([this] { return SoftwareRecorder::transport(recorder); });
    }
    void TearDown() override
    {
        USBFunctions::setTransportFactory({});
        setUsbOutSink({});
        usb::timeLimits = usb::TimeLimits {};
    }

    // YYYYMMDD of today + days.
    static QString day(int days) { return QDate::currentDate().addDays(days).toString("yyyyMMdd"); }
    void addDays()
    {
        first = QByteArray("first day\r\n").repeated(5000);
        second = QByteArray("second day\r\n").repeated(7);
        ASSERT_TRUE(writeFile(Paths::outputFolder() + "/" + day(1) + ".tgd", first));
        ASSERT_TRUE(writeFile(Paths::outputFolder() + "/" + day(2) + ".tgd", second));
    }
    QString line(int days, const char *outcome) const
    {
        return "Uploading: " + day(days) + ".tgd..." + outcome;
    }

    TempHome home;
    QTemporaryDir disk;
    SystemLogCapture log;
    std::string usbOut;
    StatusLog status;
    SourceListController slc;
    QStringList calls;
    RecordingKeywords keywords { &calls };
    EPGController controller { &status };
    std::shared_ptr<SoftwareRecorder> recorder;
    QByteArray first, second;
};

} // namespace

TEST_F(UploadTest, TwoDaysArriveByteIdentical)
{
    addDays();
    status.printStatus("old text");
    EXPECT_TRUE(controller.uploadEPG());
    EXPECT_EQ(status.text(),
        line(1, "Done\n") + line(2, "Done\n")
            + "Checking number of TGD files on Topfield: Correct!");
    EXPECT_EQ(readFile(disk.path() + "/ProgramFiles/" + day(1) + ".tgd"), first);
    EXPECT_EQ(readFile(disk.path() + "/ProgramFiles/" + day(2) + ".tgd"), second);
    EXPECT_EQ(recorder->stats().violations, QStringList());
    EXPECT_EQ(calls, QStringList { "writeOutData" });
    EXPECT_EQ(beeps, 1);
    EXPECT_EQ(recorder->stats().closes, 1);
    EXPECT_EQ(log.lines().mid(0, 2), (QStringList { "Debug level: 0", "New rate set: 60928" }));
    EXPECT_EQ(usb::rate, 60928);
    // The request named the folder with its own backslash and the upload's.
    EXPECT_EQ(recorder->stats().filesWritten.first(), "\\ProgramFiles\\\\" + day(1) + ".tgd");
    // Attributes travel: the recorder's copy has the local file's time.
    const QFileInfo local(Paths::outputFolder() + "/" + day(1) + ".tgd");
    const QFileInfo remote(disk.path() + "/ProgramFiles/" + day(1) + ".tgd");
    EXPECT_EQ(local.lastModified().toSecsSinceEpoch(), remote.lastModified().toSecsSinceEpoch());
}

TEST_F(UploadTest, EmptyOutputFolderExpectsNothing)
{
    EXPECT_TRUE(controller.uploadEPG());
    EXPECT_EQ(status.text(), "Checking number of TGD files on Topfield: Correct!");
    EXPECT_EQ(recorder->commandCount(usb::kCmdFileSend), 0);
    EXPECT_EQ(beeps, 1);
}

TEST_F(UploadTest, UploadFolderSetting)
{
    addDays();
    Settings::setValue("uploadFolder", QStringList { "DataFiles", "EPG" });
    EXPECT_EQ(EPGController::recorderFolder(), "\\DataFiles\\EPG\\");
    // The recorder refuses a folder it does not have.
    EXPECT_FALSE(controller.uploadEPG());
    EXPECT_EQ(status.text(),
        line(1, "Failed\n") + line(2, "Failed\n")
            + "Checking number of TGD files on Topfield: Error on last command.");
    QDir(disk.path()).mkpath("DataFiles/EPG");
    EXPECT_TRUE(controller.uploadEPG());
    EXPECT_EQ(readFile(disk.path() + "/DataFiles/EPG/" + day(2) + ".tgd"), second);
}

TEST_F(UploadTest, NoRecorderAtAll)
{
    addDays();
    recorder->faults().absent = true;
    EXPECT_FALSE(controller.uploadEPG());
    EXPECT_EQ(status.text(), "Error in connecting to Topfield\n");
    EXPECT_EQ(beeps, 0);
    EXPECT_EQ(usbOut, "Could not connect to Topfield\n");

    // Nor on the real bus: the build machines have no recorder.
    USBFunctions::setTransportFactory({});
    EXPECT_FALSE(controller.uploadEPG());
    EXPECT_EQ(status.text(), "Error in connecting to Topfield\n");
}

TEST_F(UploadTest, RecorderThatNeverAnswers)
{
    addDays();
    recorder->faults().noAnswer = -1;
    EXPECT_FALSE(controller.uploadEPG());
    // Each file gives up after its ninth cancel; the listing's reply is empty.
    EXPECT_EQ(status.text(),
        line(1, "Failed\n") + line(2, "Failed\n") + "Checking number of TGD files on Topfield: ");
    EXPECT_EQ(recorder->commandCount(usb::kCmdCancel), 9 + 9 + 9);
    EXPECT_EQ(log.lines().count("incorrect response"), 9 + 9 + 8);
    EXPECT_EQ(recorder->stats().closes, 1);
    EXPECT_EQ(beeps, 1);
}

TEST_F(UploadTest, RefusedDataPacket)
{
    addDays();
    recorder->faults().refuse(usb::kCmdFileData, 1);
    EXPECT_FALSE(controller.uploadEPG());
    EXPECT_EQ(status.text(),
        line(1, "Failed\n") + line(2, "Done\n")
            + "Checking number of TGD files on Topfield: Wrong, check upload!");
}

TEST_F(UploadTest, ShortListingReplyEndsTheCheck)
{
    recorder->faults().shortAnswer = 1;
    recorder->faults().shortAnswerCommand = usb::kCmdDirList;
    EXPECT_FALSE(controller.uploadEPG());
    EXPECT_EQ(status.text(), "Checking number of TGD files on Topfield: ");
    EXPECT_EQ(recorder->stats().closes, 1);
}

TEST_F(UploadTest, UnexpectedFirstListingIsAskedAgain)
{
    addDays();
    recorder->faults().overrides.push_back({ usb::kCmdDirList, usb::kReplySuccess, 1 });
    EXPECT_TRUE(controller.uploadEPG());
    EXPECT_TRUE(status.text().endsWith("Topfield: Correct!"));
    EXPECT_EQ(recorder->commandCount(usb::kCmdDirList), 2);
    // The second reply is counted whatever its code.
    recorder->faults().overrides.push_back({ usb::kCmdDirList, usb::kReplySuccess, 2 });
    EXPECT_FALSE(controller.uploadEPG());
    EXPECT_TRUE(status.text().endsWith("Topfield: Wrong, check upload!"));
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
        EXPECT_FALSE(controller.uploadEPG()) << tail; // the refused file failed
        EXPECT_TRUE(status.text().startsWith(line(1, "Failed\n") + line(2, "Done\n")));
        EXPECT_TRUE(status.text().endsWith(
            tail == 114 ? "Topfield: Correct!" : "Topfield: Wrong, check upload!"))
            << tail;
    }
}

TEST_F(UploadTest, MissingDayFileAndUnreadableDayFile)
{
    addDays();
    // A folder where a day file should be: it cannot be read, so nothing is sent for it.
    QDir().mkpath(Paths::outputFolder() + "/" + day(3) + ".tgd");
    EXPECT_FALSE(controller.uploadEPG());
    EXPECT_EQ(status.text(),
        line(1, "Done\n") + line(2, "Done\n") + line(3, "Failed\n")
            + "Checking number of TGD files on Topfield: Wrong, check upload!");
    EXPECT_EQ(recorder->commandCount(usb::kCmdFileData), 2);
}

TEST_F(UploadTest, FtpDestinations)
{
    addDays();
    Settings::setValue("connectionMethod", "FTP");
    // Without a client: every file fails, and no recorder is touched.
    EXPECT_FALSE(controller.uploadEPG());
    EXPECT_EQ(status.text(), line(1, "Failed\n") + line(2, "Failed\n"));
    EXPECT_EQ(recorder->stats().opens, 0);
    EXPECT_EQ(beeps, 1);

    QStringList sent;
    controller.setFtpPublisher([&sent](const QString &path, const QString &url) {
        sent << path.section('/', -1) + " " + url;
        return true;
    });
    for (const char *url : { "ftp://u:p@127.0.0.1:2121/epg", "ftp://u:p@127.0.0.1:2121/epg/" }) {
        Settings::setValue("FTP URL", url);
        EXPECT_TRUE(controller.uploadEPG());
    }
    const QString a = day(1) + ".tgd ftp://u:p@127.0.0.1:2121/epg/" + day(1) + ".tgd";
    const QString b = day(2) + ".tgd ftp://u:p@127.0.0.1:2121/epg/" + day(2) + ".tgd";
    EXPECT_EQ(sent, (QStringList { a, b, a, b }));
    EXPECT_EQ(status.text(), line(1, "Done\n") + line(2, "Done\n"));
}
