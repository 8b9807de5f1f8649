#include "app/CommandLine.h"

#include "app/EPGController.h"
#include "base/Settings.h"
#include "base/StatusLog.h"
#include "device/SoftwareRecorder.h"
#include "ui/KeywordController.h"
#include "ui/SourceListController.h"
#include "ui/TGDPickerController.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTextStream>
#include <cstdio>

CommandLineOptions parseCommandLine(const QStringList &arguments)
{
    CommandLineOptions o;
    for (int i = 1; i < arguments.size(); ++i) {
        const QString &a = arguments.at(i);
        auto next = [&](const QString &name) -> std::optional<QString> {
            if (i + 1 >= arguments.size()) {
                o.error = name + QStringLiteral(" needs a value");
                return std::nullopt;
            }
            return arguments.at(++i);
        };
        if (a == QLatin1String("--help") || a == QLatin1String("-h"))
            o.help = true;
        else if (a == QLatin1String("--headless"))
            o.headless = true;
        else if (a == QLatin1String("--reload"))
            o.reload = true;
        else if (a == QLatin1String("--download"))
            o.download = true;
        else if (a == QLatin1String("--get"))
            o.getKey = next(a);
        else if (a == QLatin1String("--set"))
            o.setAssignment = next(a);
        else if (a == QLatin1String("--convert")) {
            if (i + 2 >= arguments.size()) {
                o.error = a + QStringLiteral(" needs XMLTV_FILE and OUTPUT_FOLDER");
            } else {
                o.convert = QStringList{arguments.at(i + 1), arguments.at(i + 2)};
                i += 2;
            }
        } else if (a == QLatin1String("--xml"))
            o.convertXml = true;
        else if (a == QLatin1String("--upload"))
            o.upload = true;
        else if (a == QLatin1String("--pvr-sim"))
            o.pvrSimFolder = next(a);
        else
            o.error = QStringLiteral("unknown option: ") + a;
        if (!o.error.isEmpty())
            break;
    }
    if (o.convertXml && !o.convert && o.error.isEmpty())
        o.error = QStringLiteral("--xml goes with --convert");
    return o;
}

QString commandLineHelp()
{
    return QStringLiteral(
        "Usage: pallaro [OPTION]...\n"
        "Television guide fetcher and recorder uploader.\n"
        "\n"
        "Without options the window opens.\n"
        "  --headless         run without a window; the StatusLog goes to standard output\n"
        "  --reload           (with --headless) reread the day files, apply the keyword\n"
        "                     rules and write the record marks back\n"
        "  --download         fetch the guide (with --headless: exit 0 when day files\n"
        "                     were made)\n"
        "  --get KEY          print a setting\n"
        "  --set KEY=VALUE    change a setting (lists comma-separated, booleans YES/NO,\n"
        "                     autoRunTime as HH:MM)\n"
        "  --convert XMLTV_FILE OUTPUT_FOLDER [--xml]\n"
        "                     write TGD day files (and day XMLTV files with --xml) from an\n"
        "                     XMLTV file, with the current location and channel names\n"
        "  --upload           send the guide days to the recorder (or FTP server)\n"
        "  --pvr-sim FOLDER   upload to a software recorder whose disk is FOLDER instead of\n"
        "                     the USB bus\n"
        "  --help             show this text\n");
}

bool wantsWindow(const CommandLineOptions &o)
{
    return !o.help && !o.headless && !o.download && !o.reload && !o.getKey && !o.setAssignment
           && !o.convert && !o.upload && o.error.isEmpty();
}

int runSettingsCommand(const CommandLineOptions &o, QTextStream &out, QTextStream &err)
{
    Settings::registerDefaults();
    if (o.getKey) {
        if (!Settings::definition(*o.getKey)) {
            err << "pallaro: unknown setting: " << *o.getKey << "\n";
            return 2;
        }
        out << Settings::formatText(*o.getKey, Settings::value(*o.getKey)) << "\n";
        return 0;
    }
    const QString &assignment = *o.setAssignment;
    const qsizetype eq = assignment.indexOf(QLatin1Char('='));
    if (eq <= 0) {
        err << "pallaro: --set needs KEY=VALUE\n";
        return 2;
    }
    const QString key = assignment.left(eq);
    const QString text = assignment.mid(eq + 1);
    if (!Settings::definition(key)) {
        err << "pallaro: unknown setting: " << key << "\n";
        return 2;
    }
    const std::optional<QVariant> v = Settings::parseText(key, text);
    if (!v) {
        err << "pallaro: not a valid value for " << key << ": " << text << "\n";
        return 2;
    }
    Settings::setValue(key, *v);
    Settings::synchronize();
    return 0;
}

int runHeadless(const CommandLineOptions &options)
{
    if (options.pvrSimFolder)
        SoftwareRecorder::replaceBus(*options.pvrSimFolder);
    StatusLog log;
    // Standard output gets the log as it grows; a replacement (a fetch or upload starting)
    // is shown from where the output stands.
    auto print = [](const QString &text) {
        std::fputs(text.toLocal8Bit().constData(), stdout);
        std::fflush(stdout);
    };
    QObject::connect(&log, &StatusLog::appended, print);
    QObject::connect(&log, &StatusLog::replaced, print);
    SourceListController slc;
    TGDPickerController programmes;
    KeywordController kwc(&slc, &programmes);
    slc.setKeywordController(&kwc);
    slc.setProgrammeTable(&programmes);
    EPGController controller(&log);
    controller.setSourceList(&slc);
    controller.setKeywordStore(&kwc);
    controller.awakeFromNib();
    kwc.loadRules();
    QCoreApplication::processEvents();
    int status = 0;
    if (options.download) {
        QEventLoop loop;
        QObject::connect(&controller, &EPGController::fetchFinished, &loop,
                         [&](bool succeeded) { loop.exit(succeeded ? 0 : 1); });
        controller.fetchEPG();
        if (loop.exec() != 0)
            status = 1;
    }
    if (options.reload) {
        if (kwc.runReloadCycle(QString()))
            log.printStatus(
                QStringLiteral("Reloaded %1 programmes.\n").arg(kwc.allTGDEntries().size()));
        else {
            log.printStatus(
                QStringLiteral("Reload failed: a day file could not be read or written.\n"));
            status = 1;
        }
    }
    // A reload asked for by another command (after a fetch) finishes before going on.
    kwc.waitForIdle();
    QCoreApplication::processEvents();
    if (options.upload) {
        if (!controller.uploadEPG())
            status = 1;
        if (!log.text().endsWith(QLatin1Char('\n')))
            std::fputs("\n", stdout);
    }
    controller.applicationWillTerminate();
    return status;
}
