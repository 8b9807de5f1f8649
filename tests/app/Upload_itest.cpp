#include "app/GuideUpload.h"
#include "app/RunRecords.h"
#include "base/Clock.h"
#include "base/Settings.h"
#include "device/SoftwareRecorder.h"
#include "device/USBFunctions.h"
#include "support/AppFixture.h"

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace
{

const QString kCheck = "Checking number of TGD files on Topfield: ";

// YYYYMMDD of today + days.
QString day(int days)
{
    return Clock::today().addDays(days).toString("yyyyMMdd");
}

// An application with two future day files, uploading to a software recorder.
class UploadTest : public AppFixture, public ::testing::Test
{
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
        EXPECT_EQ(upload(), ok);
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

TEST_F(UploadTest, UploadFolderSetting)
{
    addDays();
    Settings::setValue("uploadFolder", QStringList { "DataFiles", "EPG" });
    EXPECT_EQ(GuideUpload::recorderFolder(), "\\DataFiles\\EPG\\");
    // The recorder refuses a folder it does not have.
    expectUpload(false, { "Failed", "Failed" }, kCheck + "Error on last command.");
    QDir(disk.path()).mkpath("DataFiles/EPG");
    EXPECT_TRUE(upload());
    // Both days arrive byte for byte, the first over many data packets.
    EXPECT_EQ(sent("DataFiles/EPG", 1), first);
    EXPECT_EQ(sent("DataFiles/EPG", 2), second);
}

TEST_F(UploadTest, NoRecorderAtAll)
{
    addDays();
    recorder->faults().absent = true;
    expectUpload(false, {}, "Error in connecting to Topfield\nNo recorder found on USB.\n");
    EXPECT_EQ(rec.calls, QStringList { "writeOutData" } + kUploadButtonsOff + kUploadButtonsOn);
    EXPECT_EQ(usbOut, "Could not connect to Topfield\n");
    // Nor on the real bus: the build machines have no recorder, and the line after says
    // why in the words of the bus.
    USBFunctions::setTransportFactory({});
    EXPECT_FALSE(upload());
    EXPECT_TRUE(QRegularExpression("^Error in connecting to Topfield\n[^\n]+\n$")
                    .match(log.text())
                    .hasMatch())
        << log.text().toStdString();
}

TEST_F(UploadTest, RecorderThatNeverAnswers)
{
    addDays();
    recorder->faults().noAnswer = -1;
    // The first file gives up after its ninth cancel, and the upload with it: the next
    // file and the listing would only wait out the same silence. No beep, as for a
    // recorder that could not be opened.
    expectUpload(false, { "Failed" },
        "The recorder stopped answering: the upload stops here. Switch it off and on again, "
        "then upload again.\n");
    EXPECT_EQ(recorder->commandCount(usb::kCmdCancel), 9);
    EXPECT_EQ(syslog.lines().count("incorrect response"), 9);
    EXPECT_EQ(recorder->stats().closes, 1);
    EXPECT_EQ(rec.calls, QStringList { "writeOutData" } + kUploadButtonsOff + kUploadButtonsOn);
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

// Whatever became of an upload is left in the data folder with the line that says why.
TEST_F(UploadTest, EveryUploadLeavesItsOutcomeInTheDataFolder)
{
    addDays();
    const struct {
        const char *what;
        std::function<void()> arrange;
        bool ok;
        QString cause;
    } cases[] = {
        { "sent", [] {}, true, "2 day files sent" },
        { "a folder the recorder lacks",
            [] { Settings::setValue("uploadFolder", QStringList { "Nope" }); }, false,
            "Sending " + day(1) + ".tgd failed" },
        { "a listing short of the days sent",
            [this] {
                Settings::setValue("uploadFolder", QStringList { "ProgramFiles" });
                recorder->faults().overrides.push_back({ usb::kCmdDirList, usb::kReplySuccess, 2 });
            },
            false, "The recorder's folder \\ProgramFiles\\ does not hold the 2 day files sent" },
        { "a recorder that stops answering", [this] { recorder->faults().noAnswer = -1; }, false,
            "The recorder stopped answering: the upload stops here. Switch it off and on again, "
            "then upload again." },
        { "no recorder",
            [this] {
                recorder->faults() = RecorderFaults();
                recorder->faults().absent = true;
            },
            false, "No recorder found on USB." },
    };
    for (const auto &c : cases) {
        c.arrange();
        EXPECT_EQ(upload(), c.ok) << c.what;
        const std::optional<RunOutcome> recorded = RunRecords::read(RunRecords::Job::Upload);
        ASSERT_TRUE(recorded) << c.what;
        EXPECT_EQ(recorded->ok, c.ok) << c.what;
        EXPECT_EQ(recorded->cause, c.cause) << c.what;
        EXPECT_EQ(recorded->by, "window");
        EXPECT_EQ(recorded->time, Clock::now());
        EXPECT_EQ(controller.lastOutcome(RunRecords::Job::Upload).cause, c.cause);
    }
}

TEST_F(UploadTest, FtpDestinations)
{
    addDays();
    Settings::setValue("connectionMethod", "FTP");
    // Without an FTP URL no file is tried, and no recorder is touched.
    expectUpload(false, {},
        "No FTP server is set: 2 day files were not sent. Set the FTP URL in Preferences.\n");
    EXPECT_EQ(recorder->stats().opens, 0);
    EXPECT_EQ(rec.calls, QStringList { "writeOutData" } + kUploadButtonsOff + kUploadButtonsOn);

    QStringList urls;
    controller.upload().setFtpPublisher([&urls](const QString &path, const QUrl &url) {
        EXPECT_TRUE(url.toString().endsWith(path.section('/', -1)));
        urls << url.toString();
        return FtpOutcome {};
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
