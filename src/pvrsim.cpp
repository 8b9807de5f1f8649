// pvr-sim: the software recorder on a folder, driven from the command line through the same
// host protocol an upload uses. For trying uploads and listings without a recorder.
#include "device/DataHandler.h"
#include "device/SoftwareRecorder.h"
#include "device/USBFunctions.h"
#include "pvrsim/UsbfsDevice.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTextStream>

namespace
{

const char *const kHelp
    = "Usage: pvr-sim FOLDER [--full-speed] [--debug] [--send FILE]... [--to PATH] [--list PATH]\n"
      "A software recorder whose disk is FOLDER (recorder path \\A\\B\\name is FOLDER/A/B/name).\n"
      "  --send FILE   upload FILE into the recorder folder given by --to (default "
      "\\ProgramFiles\\)\n"
      "  --list PATH   print the recorder's listing of PATH, e.g. \\ProgramFiles\\\n"
      "  --full-speed  run at full speed (granule 4) instead of high speed (granule 64)\n"
      "  --debug       hex dump of every transfer\n"
      "pallaro --headless --upload --pvr-sim FOLDER uploads the guide days to the same recorder.\n"
      "\n"
      "Usage: pvr-sim --usbfs FOLDER [--full-speed] [--unplug-after BYTES] [--stall-reads N]\n"
      "               [--silent-after BYTES] -- COMMAND [ARGS...]\n"
      "The same recorder as a USB device on an emulated usbfs; COMMAND runs with the emulation\n"
      "preloaded, so its libusb opens the recorder as a real one. Exits with COMMAND's status.\n"
      "  --unplug-after BYTES  the device vanishes once it has taken BYTES of file data\n"
      "  --stall-reads N       the first N reads find the IN pipe stalled until its halt is "
      "cleared\n"
      "  --silent-after BYTES  the recorder stops answering once it has taken BYTES of file data\n"
      "e.g. pvr-sim --usbfs /tmp/rec -- pallaro --headless --upload\n";

int unusableArgument(QTextStream &err, const QString &argument)
{
    err << "pvr-sim: unusable argument: " << argument << "\n" << kHelp;
    return 2;
}

bool isFolder(QTextStream &err, const QString &folder)
{
    if (QFileInfo(folder).isDir())
        return true;
    err << "pvr-sim: no such folder: " << folder << "\n";
    return false;
}

// pvr-sim --usbfs: the arguments after "--usbfs", up to "--" and the command after it.
int runUsbfs(const QStringList &args, QTextStream &err)
{
    const qsizetype dashes = args.indexOf("--");
    if (args.size() < 1 || dashes < 1 || dashes + 1 >= args.size()) {
        err << "pvr-sim: --usbfs needs a folder, \"--\" and a command\n" << kHelp;
        return 2;
    }
    const QString folder = args.at(0);
    UsbfsOptions options;
    int speed = 2;
    int stallReads = 0;
    for (qsizetype i = 1; i < dashes; ++i) {
        const QString &a = args.at(i);
        bool number = i + 1 < dashes;
        const qint64 value = number ? args.at(i + 1).toLongLong(&number) : 0;
        if (a == "--full-speed")
            speed = 1;
        else if (a == "--unplug-after" && number && value >= 0)
            options.unplugAfter = value, ++i;
        else if (a == "--silent-after" && number && value >= 0)
            options.silentAfter = value, ++i;
        else if (a == "--stall-reads" && number && value >= 0)
            stallReads = static_cast<int>(value), ++i;
        else
            return unusableArgument(err, a);
    }
    if (!isFolder(err, folder))
        return 2;
    err.flush();
    const auto recorder = std::make_shared<SoftwareRecorder>(folder, speed);
    recorder->faults().stallReads = stallReads;
    const int status = runOnUsbfs(recorder, options, args.mid(dashes + 1));
    for (const QString &v : recorder->stats().violations)
        err << "pvr-sim: host fault: " << v << "\n";
    return status < 0 ? 1 : status;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    const QStringList args = app.arguments();
    if (args.size() < 2 || args.mid(0, args.indexOf("--")).contains("--help")) {
        (args.size() < 2 ? err : out) << kHelp;
        return args.size() < 2 ? 2 : 0;
    }
    if (args.at(1) == "--usbfs")
        return runUsbfs(args.mid(2), err);
    const QString folder = args.at(1);
    QStringList send;
    QStringList lists;
    QString to = QStringLiteral("\\ProgramFiles\\");
    int speed = 2;
    bool debug = false;
    for (int i = 2; i < args.size(); ++i) {
        const QString &a = args.at(i);
        const bool hasValue = i + 1 < args.size();
        if (a == "--full-speed")
            speed = 1;
        else if (a == "--debug")
            debug = true;
        else if (a == "--send" && hasValue)
            send << args.at(++i);
        else if (a == "--to" && hasValue)
            to = args.at(++i);
        else if (a == "--list" && hasValue)
            lists << args.at(++i);
        else
            return unusableArgument(err, a);
    }
    if (!isFolder(err, folder))
        return 2;

    const auto recorder = SoftwareRecorder::replaceBus(folder, speed);
    USBFunctions usbf;
    usbf.setDebug(debug ? 1 : 0);
    usbf.setRate(60928);
    const auto context = usbf.initializeUSB();
    if (!context)
        return 1;
    int status = 0;
    for (const QString &path : send) {
        const auto a = DataHandler::attributesOfFile(path);
        if (!a) {
            err << "pvr-sim: no such file: " << path << "\n";
            status = 1;
            continue;
        }
        const QByteArray record = DataHandler::getDataFromTFFile(
            DataHandler::extractAttributes(*a), QFileInfo(path).fileName());
        const bool ok
            = usbf.uploadFile(path, static_cast<qint64>(a->size), to, record, context.get());
        out << "sent " << path << ": " << (ok ? "Done" : "Failed") << "\n";
        status = ok ? status : 1;
    }
    for (const QString &path : lists) {
        const auto reply = usbf.getFileList(context.get(), path);
        if (!reply || usb::replyCode(*reply) != usb::kReplyDirBlock) {
            err << "pvr-sim: no listing of " << path << "\n";
            status = 1;
            continue;
        }
        const QByteArray entries = reply->mid(8);
        for (qsizetype at = 0; at + DataHandler::kEntrySize <= entries.size();
             at += DataHandler::kEntrySize) {
            TFFile f = *DataHandler::getTFFileFromSwappedHexData(
                entries.mid(at, DataHandler::kEntrySize));
            DataHandler::convertRawDataToUseful(f);
            out << (f.type == 1 ? "d " : "f ") << f.name.value_or(QString()) << "\t" << *f.size
                << "\t" << (f.type == 1 ? QString() : f.date->toString("yyyy-MM-dd HH:mm")) << "\n";
        }
    }
    usbf.closeDevice(context.get());
    out.flush();
    for (const QString &v : recorder->stats().violations) {
        err << "pvr-sim: host fault: " << v << "\n";
        status = 1;
    }
    return status;
}
