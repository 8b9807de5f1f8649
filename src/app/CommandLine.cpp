#include "app/CommandLine.h"

#include "app/AutoRun.h"
#include "app/EPGController.h"
#include "app/ScriptCommands.h"
#include "app/Unattended.h"
#include "base/Clock.h"
#include "base/DataFolderLock.h"
#include "base/FolderWalk.h"
#include "base/Paths.h"
#include "base/Settings.h"
#include "base/StatusLog.h"
#include "base/SystemLog.h"
#include "device/SoftwareRecorder.h"
#include "guide/TGDFile.h"
#include "guide/TGDFormat.h"
#include "ui/KeywordController.h"
#include "ui/NowOnController.h"
#include "ui/ProgrammeSearch.h"
#include "ui/SourceListController.h"
#include "ui/TGDPickerController.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDate>
#include <QDateTime>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>
#include <algorithm>
#include <cstdio>

namespace
{

// The option as the user typed it, for messages ("-headles", "--bogus").
QString typed(const QString &name, const QStringList &arguments)
{
    for (const QString &argument : arguments) {
        const QString option = argument.section(QLatin1Char('='), 0, 0);
        const int dashes = option.startsWith(QLatin1String("--")) ? 2
            : option.startsWith(QLatin1Char('-'))                 ? 1
                                                                  : 0;
        if (dashes > 0 && option.mid(dashes) == name)
            return option;
    }
    return QStringLiteral("--") + name;
}

// Why QCommandLineParser refused the arguments, in this program's words.
QString refusal(const QCommandLineParser &parser, const QStringList &arguments)
{
    if (!parser.unknownOptionNames().isEmpty())
        return QStringLiteral("unknown option: ")
            + typed(parser.unknownOptionNames().first(), arguments);
    // The parser's other refusal is an option that takes a value given last, without one.
    const QString last = arguments.size() > 1 ? arguments.last() : QString();
    if (last == QLatin1String("--convert"))
        return QStringLiteral("--convert needs XMLTV_FILE and OUTPUT_FOLDER");
    if (last.startsWith(QLatin1Char('-')) && !last.contains(QLatin1Char('=')))
        return last + QStringLiteral(" needs a value");
    return parser.errorText();
}

} // namespace

namespace
{

// Every option: its name and, when it takes one, its value's name. The parser, the help's
// check and the man page's and completion's tests all read this table.
struct OptionRow {
    const char *name;
    const char *valueName;
};
constexpr OptionRow kOptions[] = {
    { "help", nullptr },
    { "headless", nullptr },
    { "reload", nullptr },
    { "download", nullptr },
    { "upload", nullptr },
    { "status", nullptr },
    { "get", "KEY" },
    { "set", "KEY=VALUE" },
    // --convert takes two values; the second arrives as the one positional argument.
    { "convert", "XMLTV_FILE" },
    { "xml", nullptr },
    { "pvr-sim", "FOLDER" },
    { "search", "TEXT" },
    { "now-on", nullptr },
    { "rules", nullptr },
    { "at", "TIME" },
    { "mark", "TIME" },
    { "unmark", "TIME" },
    { "pad", "BEFORE,AFTER" },
};

} // namespace

QStringList commandLineOptionNames()
{
    QStringList names;
    for (const OptionRow &row : kOptions)
        names << QStringLiteral("--") + QLatin1String(row.name);
    return names;
}

CommandLineOptions parseCommandLine(const QStringList &arguments)
{
    QCommandLineParser parser;
    // "-headless" is a mistake, not the letters h, e, a, ...
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    for (const OptionRow &row : kOptions) {
        QStringList names { QLatin1String(row.name) };
        if (names.first() == QLatin1String("help"))
            names.prepend(QStringLiteral("h"));
        parser.addOption(QCommandLineOption(
            names, QString(), row.valueName ? QLatin1String(row.valueName) : QString()));
    }
    const QString help = QStringLiteral("help"), headless = QStringLiteral("headless"),
                  reload = QStringLiteral("reload"), download = QStringLiteral("download"),
                  get = QStringLiteral("get"), set = QStringLiteral("set"),
                  convert = QStringLiteral("convert"), xml = QStringLiteral("xml"),
                  upload = QStringLiteral("upload"), pvrSim = QStringLiteral("pvr-sim"),
                  search = QStringLiteral("search"), nowOn = QStringLiteral("now-on"),
                  at = QStringLiteral("at"), mark = QStringLiteral("mark"),
                  unmark = QStringLiteral("unmark"), pad = QStringLiteral("pad"),
                  status = QStringLiteral("status"), rules = QStringLiteral("rules");

    CommandLineOptions o;
    if (!parser.parse(arguments)) {
        o.error = refusal(parser, arguments);
        return o;
    }
    auto value = [&](const QString &option) -> std::optional<QString> {
        if (!parser.isSet(option))
            return std::nullopt;
        return parser.value(option);
    };
    o.help = parser.isSet(help);
    o.headless = parser.isSet(headless);
    o.reload = parser.isSet(reload);
    o.download = parser.isSet(download);
    o.getKey = value(get);
    o.setAssignment = value(set);
    o.convertXml = parser.isSet(xml);
    o.upload = parser.isSet(upload);
    o.pvrSimFolder = value(pvrSim);
    o.search = value(search);
    o.nowOn = parser.isSet(nowOn);
    o.rules = parser.isSet(rules);
    o.at = value(at);
    o.mark = value(mark);
    o.unmark = value(unmark);
    o.pad = value(pad);
    o.status = parser.isSet(status);

    const QStringList positional = parser.positionalArguments();
    if (o.mark || o.unmark) {
        const QString name = o.mark ? QStringLiteral("--mark") : QStringLiteral("--unmark");
        if (o.mark && o.unmark)
            o.error = QStringLiteral("--mark and --unmark go one at a time");
        else if (parser.isSet(convert))
            o.error = name + QStringLiteral(" and --convert go one at a time");
        else if (positional.size() != 1)
            o.error = name + QStringLiteral(" needs \"YYYY-MM-DD HH:MM\" and CHANNEL");
        else
            o.markChannel = positional.first();
        if (o.unmark && o.pad)
            o.error = QStringLiteral("--pad goes with --mark");
    } else if (o.pad) {
        o.error = QStringLiteral("--pad goes with --mark");
    } else if (parser.isSet(convert)) {
        if (positional.size() == 1)
            o.convert = QStringList { parser.value(convert), positional.first() };
        else
            o.error = QStringLiteral("--convert needs XMLTV_FILE and OUTPUT_FOLDER");
    } else if (!positional.isEmpty()) {
        o.error = QStringLiteral("unexpected argument: ") + positional.first();
    } else if (o.convertXml) {
        o.error = QStringLiteral("--xml goes with --convert");
    } else if (o.at && !o.nowOn) {
        o.error = QStringLiteral("--at goes with --now-on");
    } else if (o.status
        && (o.download || o.upload || o.reload || o.getKey || o.setAssignment || o.search
            || o.nowOn)) {
        o.error = QStringLiteral("--status goes alone");
    }
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
        "  --download         fetch the guide; exit 0 when day files were made. Without\n"
        "                     --headless a running window is asked to do it, if there is one\n"
        "  --get KEY          print a setting\n"
        "  --set KEY=VALUE    change a setting (lists comma-separated, booleans YES/NO,\n"
        "                     autoRunTime as HH:MM; autoRun and autoRunTime apply the\n"
        "                     daily run at once)\n"
        "  --convert XMLTV_FILE OUTPUT_FOLDER\n"
        "                     write TGD day files from an XMLTV file, with the current\n"
        "                     location and channel names\n"
        "  --xml              (with --convert) write day XMLTV files as well\n"
        "  --upload           send the guide days to the recorder (or FTP server); like\n"
        "                     --download, handed to a running window without --headless\n"
        "  --pvr-sim FOLDER   upload to a software recorder whose disk is FOLDER instead of\n"
        "                     the USB bus\n"
        "  --search TEXT      print the programmes of the guide days that TEXT finds, as\n"
        "                     the window's search does (every word in the title,\n"
        "                     episode, category, description, rating or channel, case\n"
        "                     and accents ignored), one per line: start, channel and\n"
        "                     title separated by TABs; exit 1 when none is found\n"
        "  --now-on           print what is on air now: channel, start and title\n"
        "                     separated by TABs; exit 1 when nothing is\n"
        "  --at \"YYYY-MM-DD HH:MM\"\n"
        "                     (with --now-on) at that local minute instead of now\n"
        "  --rules            print the keyword rules, one per line: number, keywords,\n"
        "                     negatives, narrowing keys (channels, days, times,\n"
        "                     minutes, skipping repeats), the programmes each matches\n"
        "                     in the guide days, and \"auto\" when it marks them;\n"
        "                     fields separated by TABs. Exit 1 when there are none\n"
        "  --mark \"YYYY-MM-DD HH:MM\" CHANNEL\n"
        "                     record the programme(s) starting then on CHANNEL (its key\n"
        "                     or shown name); a hand mark, kept over fetches and rules.\n"
        "                     Exit 1: no such programme. A running window is asked to do it\n"
        "  --pad BEFORE,AFTER (with --mark) start BEFORE minutes earlier, end AFTER later\n"
        "  --unmark \"YYYY-MM-DD HH:MM\" CHANNEL\n"
        "                     do not record it, whatever the keyword rules say\n"
        "  --status           the guide on disk, the last fetch and upload, the daily run;\n"
        "                     exit 0 when the latest run succeeded and the guide reaches\n"
        "                     two days ahead, 1 otherwise, 2 on an error\n"
        "  --help             show this text\n");
}

bool wantsWindow(const CommandLineOptions &o)
{
    return !o.help && !o.headless && !o.download && !o.reload && !o.getKey && !o.setAssignment
        && !o.convert && !o.upload && !o.search && !o.nowOn && !o.rules && !o.mark && !o.unmark
        && !o.status
        && o.error.isEmpty();
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
    // A terminal user needs no window to schedule the daily run.
    if (key == QLatin1String("autoRun") || key == QLatin1String("autoRunTime")) {
        SystemdAutoRun([&err](const QString &line) {
            err << "pallaro: " << line << "\n";
        }).setAutoRun(Settings::boolean(QStringLiteral("autoRun")));
    }
    return 0;
}

int runSearchCommand(const QString &text, const QDate &today, QTextStream &out, QTextStream &err)
{
    Settings::registerDefaults();
    const QString folder = Paths::outputFolder();
    if (!QFileInfo(folder).isDir()) {
        err << "pallaro: no output folder: " << folder << "\n";
        return 2;
    }
    // The guide days the day list shows, read as the keyword reload reads them.
    const int todayNumber = today.toString(QStringLiteral("yyyyMMdd")).toInt();
    TGDFile reader;
    bool first = true;
    bool failed = false;
    for (const QString &relative : walkSorted(folder)) {
        if (extensionOf(relative) != QLatin1String("tgd"))
            continue;
        const QString day = withoutExtension(relative).section(QLatin1Char('/'), -1);
        if (todayNumber - tgd::leadingInt(day) > 0)
            continue;
        QFile file(folder + QLatin1Char('/') + relative);
        if (!QFileInfo(file.fileName()).isFile() || !file.open(QIODevice::ReadOnly)) {
            err << "pallaro: cannot read " << file.fileName() << "\n";
            failed = true;
            continue;
        }
        reader.loadTGDData(file.readAll(), day, !first);
        first = false;
    }
    // Every day selected in the day list: days in order, each in the full list's order.
    TGDEntryList all = reader.getFileData();
    KeywordController::sortByChannelAndStart(all);
    std::stable_sort(all.begin(), all.end(), [](const TGDEntryPtr &a, const TGDEntryPtr &b) {
        return a->fileNameDataIsFrom < b->fileNameDataIsFrom;
    });
    const TGDEntryList found = searchProgrammes(all, text);
    for (const TGDEntryPtr &e : found)
        out << e->rawStart << '\t' << e->dispChannelString << '\t' << e->title << '\n';
    out.flush();
    if (failed)
        return 2;
    return found.empty() ? 1 : 0;
}

int runNowOnCommand(const std::optional<QString> &at, QTextStream &out, QTextStream &err)
{
    QDateTime when = Clock::now();
    if (at) {
        when = QDateTime::fromString(*at, QStringLiteral("yyyy-MM-dd HH:mm"));
        if (!when.isValid()) {
            err << "pallaro: --at needs a local time as \"YYYY-MM-DD HH:MM\": " << *at << "\n";
            return 2;
        }
    }
    Settings::registerDefaults();
    const QString folder = Paths::outputFolder();
    if (!QFileInfo(folder).isDir()) {
        err << "pallaro: no output folder: " << folder << "\n";
        return 2;
    }
    // The reload's own reader, with its complaints on standard error instead.
    setSystemLogSink([&err](const QString &line) { err << "pallaro: " << line << "\n"; });
    KeywordController kwc(nullptr, nullptr);
    kwc.setToday([&when] { return when.date(); });
    const bool read = kwc.loadInData();
    setSystemLogSink({});
    const TGDEntryList on = NowOnController::onAir(kwc.allTGDEntries(), when);
    for (const TGDEntryPtr &e : on)
        out << e->channel << '\t' << e->rawStart << '\t' << e->title << '\n';
    out.flush();
    err.flush();
    if (!read)
        return 2;
    return on.empty() ? 1 : 0;
}

int runHeadless(const CommandLineOptions &options)
{
    // A running window takes the commands, so that two fetches never write the same files.
    if (!options.headless && !options.reload && !options.pvrSimFolder
        && (options.download || options.upload)) {
        QTextStream out(stdout);
        QTextStream err(stderr);
        if (const std::optional<int> status
            = forwardToWindow(options.download, options.upload, out, err))
            return *status;
    }
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
    DataFolderLock::setReporter(
        [&log](const QString &line) { log.printStatus(line + QLatin1Char('\n')); });
    SourceListController slc;
    TGDPickerController programmes;
    KeywordController kwc(&slc, &programmes);
    kwc.setStatusLog(&log);
    slc.setKeywordController(&kwc);
    slc.setProgrammeTable(&programmes);
    EPGController controller(&log);
    controller.setRunner(Unattended::runner());
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
        QEventLoop loop;
        QObject::connect(&controller, &EPGController::uploadFinished, &loop,
            [&](bool succeeded) { loop.exit(succeeded ? 0 : 1); });
        if (!controller.uploadEPG() || loop.exec() != 0)
            status = 1;
        if (!log.text().endsWith(QLatin1Char('\n')))
            std::fputs("\n", stdout);
    }
    controller.applicationWillTerminate();
    DataFolderLock::setReporter({});
    if (options.download || options.upload) {
        auto outcome = [&controller](RunRecords::Job job, bool ran) -> std::optional<RunOutcome> {
            if (!ran)
                return std::nullopt;
            return controller.lastOutcome(job);
        };
        const RunOutcome run
            = Unattended::outcome(outcome(RunRecords::Job::Fetch, options.download),
                outcome(RunRecords::Job::Upload, options.upload), Unattended::runner(),
                RunRecords::read(RunRecords::Job::Unattended), Clock::now());
        Unattended::finish(run,
            [](const QString &line) { std::fprintf(stderr, "pallaro: %s\n", qPrintable(line)); });
        // The daily run fails whenever its record does, an earlier archive converted for
        // want of a download included, so that systemd tries it again.
        if (run.by == QLatin1String("timer") && !run.ok)
            status = 1;
    }
    return status;
}
