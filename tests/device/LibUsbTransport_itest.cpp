// The libusb back end against the software recorder presented on an emulated usbfs
// (pvr-sim --usbfs): pallaro's own upload, run as a user runs it, through the real USB path.
#include "device/USBFunctions.h"
#include "device/UsbTransport.h"
#include "support/TempHome.h"

#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

namespace
{

// Days no clock reaches for a long while: pallaro runs here at the machine's clock, because
// libfaketime's preload would also move the time limits libusb waits on.
QString day(int days)
{
    return QDate(2099, 1, 1).addDays(days).toString("yyyyMMdd");
}

QByteArray randomBytes(int n)
{
    QByteArray b(n, '\0');
    for (char &c : b)
        c = static_cast<char>(QRandomGenerator::global()->bounded(256));
    return b;
}

struct Outcome {
    int status = -1;
    QString out, err;
};

// Runs a program with the environment of the test (the temporary home included).
Outcome run(const QString &program, const QStringList &arguments, int timeoutMs = 60000)
{
    QProcess p;
    p.start(program, arguments);
    Outcome r;
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        r.err = "timed out";
    } else if (p.exitStatus() == QProcess::NormalExit)
        r.status = p.exitCode();
    r.out += QString::fromLocal8Bit(p.readAllStandardOutput());
    r.err += QString::fromLocal8Bit(p.readAllStandardError());
    return r;
}

QString pvrSim()
{
    return qEnvironmentVariable("PALLARO_PVR_SIM");
}
QString pallaro()
{
    return qEnvironmentVariable("PALLARO_EXECUTABLE");
}

std::ostream &operator<<(std::ostream &os, const Outcome &r)
{
    return os << "status " << r.status << "\n--- stdout\n"
              << r.out.toStdString() << "--- stderr\n"
              << r.err.toStdString();
}

class UsbfsUpload : public ::testing::Test
{
protected:
    QString output() const { return home.supportFolder() + "/output"; }
    // Day files of today + 1, + 2, ... with these contents.
    void addDays(const QList<QByteArray> &contents)
    {
        days = contents;
        for (int i = 0; i < contents.size(); ++i)
            ASSERT_TRUE(writeFile(output() + "/" + day(i + 1) + ".tgd", contents[i]));
    }
    QString onRecorder(int i) const { return disk.path() + "/ProgramFiles/" + day(i + 1) + ".tgd"; }
    // pallaro --headless --upload under pvr-sim --usbfs with these options; `wrapper` runs
    // before pallaro inside the emulation (a shell command line whose "$@" is pallaro's).
    Outcome upload(const QStringList &simOptions, const QString &wrapper = {})
    {
        QStringList args
            = QStringList { "--usbfs", disk.path() } + simOptions + QStringList { "--" };
        if (!wrapper.isEmpty())
            args += QStringList { "/bin/sh", "-c", wrapper, "sh" };
        args += QStringList { pallaro(), "--headless", "--upload" };
        return run(pvrSim(), args);
    }
    static QString line(int i, const QString &outcome)
    {
        return "Uploading: " + day(i + 1) + ".tgd..." + outcome + "\n";
    }

    TempHome home;
    QTemporaryDir disk;
    QList<QByteArray> days;
};

// A whole upload at each bus speed: every day byte-identical, the granule of the speed,
// the count check.
class UsbfsSpeeds : public UsbfsUpload, public ::testing::WithParamInterface<bool>
{
};

TEST_P(UsbfsSpeeds, EveryDayArrivesByteIdentical)
{
    const bool full = GetParam();
    // Many data packets; a data packet of 1022 bytes, which both granules round to 1024,
    // a multiple of 512; an empty day.
    addDays({ randomBytes(200000), randomBytes(1022 - 16), QByteArray() });
    const Outcome r = upload(full ? QStringList { "--full-speed" } : QStringList {});
    ASSERT_EQ(r.status, 0) << r;
    EXPECT_TRUE(r.out.contains(full ? "blockS:4\n" : "blockS:64\n")) << r;
    EXPECT_TRUE(r.out.contains("Connected to Topfield\n" + line(0, "Done") + line(1, "Done")
        + line(2, "Done") + "Checking number of TGD files on Topfield: Correct!"))
        << r;
    for (int i = 0; i < days.size(); ++i)
        EXPECT_EQ(readFile(onRecorder(i)), days[i]) << i;
    EXPECT_FALSE(r.err.contains("host fault")) << r;
}

INSTANTIATE_TEST_SUITE_P(LibUsb, UsbfsSpeeds, ::testing::Values(false, true),
    [](const auto &info) { return info.param ? "FullSpeed" : "HighSpeed"; });

// The recorder leaves the bus, or stops answering, in the middle of the second day: that
// day fails, the upload stops there with one line that says why, and nothing hangs.
struct LostCase {
    const char *name;
    const char *option;
    const char *line;
};

class UsbfsLost : public UsbfsUpload, public ::testing::WithParamInterface<LostCase>
{
};

TEST_P(UsbfsLost, UploadStopsAtTheFileWithOneLine)
{
    addDays({ randomBytes(70000), randomBytes(200000), randomBytes(100) });
    // Within the second day's second data packet (60928 file bytes each).
    const Outcome r = upload({ GetParam().option, QString::number(70000 + 60928 + 1000) });
    EXPECT_EQ(r.status, 1) << r;
    // The transport's own diagnostics may come between a day's line and its outcome.
    EXPECT_TRUE(r.out.contains(line(0, "Done") + "Uploading: " + day(2) + ".tgd...")) << r;
    EXPECT_TRUE(r.out.endsWith(QString("Failed\n") + GetParam().line + "\n")) << r;
    EXPECT_FALSE(r.out.contains("Uploading: " + day(3))) << r;
    EXPECT_FALSE(r.out.contains("Checking number")) << r;
    // Closing what is left of the connection is no failure of its own.
    EXPECT_FALSE(r.out.contains("unable to")) << r;
    EXPECT_EQ(readFile(onRecorder(0)), days[0]);
    EXPECT_FALSE(QFile::exists(onRecorder(1)));
}

INSTANTIATE_TEST_SUITE_P(LibUsb, UsbfsLost,
    ::testing::Values(LostCase { "Unplugged", "--unplug-after",
                          "The recorder was disconnected: the upload stops here. Connect it "
                          "again, then upload again." },
        LostCase { "Silent", "--silent-after",
            "The recorder stopped answering: the upload stops here. Switch it off and on "
            "again, then upload again." }),
    [](const auto &info) { return std::string(info.param.name); });

// Silent from the last day's end on: the count check's line ends where the answers did,
// and the next line says why.
TEST_F(UsbfsUpload, SilentAtTheCountCheck)
{
    addDays({ randomBytes(1000) });
    const Outcome r = upload({ "--silent-after", "1000" });
    EXPECT_EQ(r.status, 1) << r;
    // (The transport's diagnostics come between the two on standard output.)
    EXPECT_TRUE(r.out.contains("Checking number of TGD files on Topfield: ")) << r;
    EXPECT_TRUE(r.out.endsWith("\n\nThe recorder stopped answering: the upload stops here. "
                               "Switch it off and on again, then upload again.\n"))
        << r;
    EXPECT_FALSE(r.out.contains("Correct!") || r.out.contains("Wrong")) << r;
}

// A stalled IN pipe: the read fails, the halt is cleared on both ends, the command is
// asked again, and the upload goes through.
TEST_F(UsbfsUpload, StalledPipeIsClearedAndTheUploadGoesOn)
{
    addDays({ randomBytes(5000), randomBytes(70000) });
    const Outcome r = upload({ "--stall-reads", "3" });
    ASSERT_EQ(r.status, 0) << r;
    EXPECT_EQ(r.out.count("read err 2: fffffff7\nresetting\n"), 3) << r;
    EXPECT_TRUE(r.out.contains("Checking number of TGD files on Topfield: Correct!")) << r;
    for (int i = 0; i < days.size(); ++i)
        EXPECT_EQ(readFile(onRecorder(i)), days[i]) << i;
}

// The recorder's node may not be opened: the line names it and says how to be let in.
TEST_F(UsbfsUpload, NoPermissionNamesTheNodeAndTheWayIn)
{
    addDays({ "a day" });
    // Root opens any node; without the override it is bound by the mode like anyone.
    const Outcome r = upload({},
        "chmod 0 \"$UMOCKDEV_DIR/dev/bus/usb/001/001\" && if [ \"$(id -u)\" = 0 ]; then "
        "exec setpriv --inh-caps=-dac_override,-dac_read_search "
        "--bounding-set=-dac_override,-dac_read_search \"$@\"; else exec \"$@\"; fi");
    EXPECT_EQ(r.status, 1) << r;
    EXPECT_TRUE(r.out.contains("Error in connecting to Topfield\nNo permission to open the "
                               "recorder at /dev/bus/usb/001/001: install Pallaro's udev rule"))
        << r;
    EXPECT_TRUE(r.out.endsWith(", then plug the recorder in again.\n")) << r;
}

// No recorder on a bus that holds another device.
TEST_F(UsbfsUpload, NoRecorderFound)
{
    addDays({ "a day" });
    const QString device = disk.path() + "/keyboard.umockdev";
    ASSERT_TRUE(writeFile(device,
        "P: /devices/usb1\nN: bus/usb/001/001\nE: SUBSYSTEM=usb\nE: DEVNAME=/dev/bus/usb/001/001\n"
        "E: DEVTYPE=usb_device\nE: BUSNUM=001\nE: DEVNUM=001\nA: busnum=1\\n\nA: devnum=1\\n\n"
        "A: bConfigurationValue=1\\n\nA: speed=12\\n\n"
        "H: descriptors=1201000200000008d9040a1601000000000109021200010100a03200\n"));
#if defined(__SANITIZE_ADDRESS__)
    // umockdev-run puts its preload before the sanitizer's runtime, which then only warns.
    const QByteArray asan = qgetenv("ASAN_OPTIONS");
    qputenv("ASAN_OPTIONS", asan + ":verify_asan_link_order=0");
#endif
    const Outcome r
        = run("umockdev-run", { "--device", device, "--", pallaro(), "--headless", "--upload" });
#if defined(__SANITIZE_ADDRESS__)
    qputenv("ASAN_OPTIONS", asan);
#endif
    EXPECT_EQ(r.status, 1) << r;
    EXPECT_TRUE(r.out.endsWith("Error in connecting to Topfield\nNo recorder found on USB.\n"))
        << r;
}

// The time limits are the transport's to keep: with short ones, a recorder that answers
// its first command and then nothing costs the connection check milliseconds, and the
// connection knows the recorder has stopped answering. Runs the checks inside the
// emulation (SilenceEndsAtTheLimits below).
TEST(UsbfsTransport, SilenceEndsAtShortTimeLimits)
{
    QTemporaryDir disk;
    qputenv("PALLARO_USBFS_CHILD", "1");
    const Outcome r = run(pvrSim(),
        { "--usbfs", disk.path(), "--silent-after", "0", "--",
            QCoreApplication::applicationFilePath(),
            "--gtest_filter=UsbfsChild.SilenceEndsAtTheLimits" });
    qunsetenv("PALLARO_USBFS_CHILD");
    EXPECT_EQ(r.status, 0) << r;
    EXPECT_TRUE(r.out.contains("[  PASSED  ] 1 test")) << r;
}

TEST(UsbfsChild, SilenceEndsAtTheLimits)
{
    if (qEnvironmentVariable("PALLARO_USBFS_CHILD").isEmpty())
        GTEST_SKIP() << "runs inside pvr-sim --usbfs, started by SilenceEndsAtShortTimeLimits";
    std::string out;
    setUsbOutSink([&out](const std::string &line) { out += line; });
    usb::timeLimits.recvNoData = 20;
    USBFunctions usbf;
    const auto context = usbf.initializeUSB();
    ASSERT_NE(context, nullptr) << out;
    EXPECT_TRUE(usbf.checkUSB(context.get())) << out;
    EXPECT_FALSE(usbf.recorderSilent());
    out.clear();
    EXPECT_FALSE(usbf.checkUSB(context.get()));
    EXPECT_TRUE(usbf.recorderSilent());
    EXPECT_FALSE(usbf.recorderGone());
    // Nine cancels, each read ending at the limit (a time-out) and its pipe reset.
    EXPECT_EQ(QString::fromStdString(out).count("read err 2: fffffff9\nresetting\n"), 9) << out;
    usbf.closeDevice(context.get());
    setUsbOutSink({});
}

// Another program holds the recorder's interface: the upload says so. Once that program
// has released the interface (its device still open), the next upload goes through.
TEST_F(UsbfsUpload, HeldByAnotherProgram)
{
    addDays({ "a day" });
    const QString flags
        = disk.path() + "/../hold-" + QString::number(QCoreApplication::applicationPid());
    qputenv("PALLARO_HOLD_FLAGS", flags.toLocal8Bit());
    const Outcome r = upload({},
        "f=$PALLARO_HOLD_FLAGS; await() { n=0; while [ ! -e \"$f.$1\" ] && [ $n -lt 400 ]; do "
        "sleep 0.05; n=$((n+1)); done; }; \""
            + QCoreApplication::applicationFilePath()
            + "\" --gtest_filter=UsbfsChild.HoldTheRecorder >/dev/null 2>&1 & await held; \"$@\"; "
              "echo \"busy run: $?\"; touch \"$f.release\"; await released; \"$@\"; s=$?; "
              "touch \"$f.exit\"; wait; exit $s");
    qunsetenv("PALLARO_HOLD_FLAGS");
    for (const char *f : { ".held", ".release", ".released", ".exit" })
        QFile::remove(flags + f);
    EXPECT_EQ(r.status, 0) << r;
    EXPECT_TRUE(r.out.contains("Error in connecting to Topfield\nThe recorder at "
                               "/dev/bus/usb/001/001 is in use by another program: close that "
                               "program, then upload again.\nbusy run: 1\n"))
        << r;
    EXPECT_TRUE(
        r.out.endsWith(line(0, "Done") + "Checking number of TGD files on Topfield: Correct!\n"))
        << r;
}

// Started by HeldByAnotherProgram inside the emulation: opens the recorder and holds its
// interface until told to release it, then keeps the device open until told to exit.
TEST(UsbfsChild, HoldTheRecorder)
{
    const QString flags = qEnvironmentVariable("PALLARO_HOLD_FLAGS");
    if (flags.isEmpty())
        GTEST_SKIP() << "runs inside pvr-sim --usbfs, started by HeldByAnotherProgram";
    const auto await = [&](const char *flag) {
        QElapsedTimer waited;
        waited.start();
        while (!QFile::exists(flags + flag) && waited.elapsed() < 20000)
            QThread::msleep(20);
    };
    const auto transport = makeLibUsbTransport();
    ASSERT_EQ(transport->open(), 0) << transport->openFailure();
    ASSERT_TRUE(writeFile(flags + ".held", {}));
    await(".release");
    EXPECT_EQ(transport->closeInterface(), 0);
    ASSERT_TRUE(writeFile(flags + ".released", {}));
    await(".exit");
    transport->closeDevice();
    transport->releaseDevice();
}

} // namespace
