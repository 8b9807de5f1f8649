// pvr-sim: the software recorder on a folder, driven from the command line through the same
// host protocol an upload uses. For trying uploads and listings without a recorder.
#include "device/DataHandler.h"
#include "device/SoftwareRecorder.h"
#include "device/USBFunctions.h"

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
      "pallaro --headless --upload --pvr-sim FOLDER uploads the guide days to the same recorder.\n";

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    const QStringList args = app.arguments();
    if (args.size() < 2 || args.contains("--help")) {
        (args.size() < 2 ? err : out) << kHelp;
        return args.size() < 2 ? 2 : 0;
    }
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
        else {
            err << "pvr-sim: unusable argument: " << a << "\n" << kHelp;
            return 2;
        }
    }
    if (!QFileInfo(folder).isDir()) {
        err << "pvr-sim: no such folder: " << folder << "\n";
        return 2;
    }

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
