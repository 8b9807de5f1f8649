#include "app/CommandLine.h"

#include "app/EPGController.h"
#include "base/DataFolderLock.h"
#include "guide/Convert.h"
#include "app/ScriptCommands.h"
#include "base/Paths.h"
#include "base/Settings.h"
#include "base/StatusLog.h"
#include "base/SystemLog.h"
#include "ui/KeywordController.h"
#include "ui/SourceListController.h"
#include "ui/TGDPickerController.h"

#include <QDate>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTextStream>
#include <QTime>

std::optional<MarkRequest> markRequest(const CommandLineOptions &o, QString *error)
{
    const QString name = o.mark ? QStringLiteral("--mark") : QStringLiteral("--unmark");
    const QString when = o.mark ? *o.mark : o.unmark.value_or(QString());
    // The day files' own text for a start, so that it is compared as they hold it.
    static const QRegularExpression form(QStringLiteral("^(\\d{4}-\\d{2}-\\d{2}) (\\d{2}:\\d{2})$"));
    const QRegularExpressionMatch m = form.match(when.trimmed());
    if (!m.hasMatch() || !QDate::fromString(m.captured(1), QStringLiteral("yyyy-MM-dd")).isValid()
        || !QTime::fromString(m.captured(2), QStringLiteral("HH:mm")).isValid()) {
        *error = name + QStringLiteral(" needs a local time as \"YYYY-MM-DD HH:MM\": ") + when;
        return std::nullopt;
    }
    MarkRequest r;
    r.start = m.captured(1) + QLatin1Char(' ') + m.captured(2);
    r.channel = o.markChannel.trimmed();
    r.record = o.mark.has_value();
    if (r.channel.isEmpty()) {
        *error = name + QStringLiteral(" needs a CHANNEL");
        return std::nullopt;
    }
    if (o.pad) {
        static const QRegularExpression pads(QStringLiteral("^\\s*(-?\\d{1,2})\\s*,\\s*(-?\\d{1,2})\\s*$"));
        const QRegularExpressionMatch p = pads.match(*o.pad);
        if (!p.hasMatch()) {
            *error = QStringLiteral("--pad needs BEFORE,AFTER in minutes, each -99 to 99: ") + *o.pad;
            return std::nullopt;
        }
        r.before = p.captured(1).toInt();
        r.after = p.captured(2).toInt();
    }
    return r;
}

namespace
{

// The programmes of the output folder with the rules on them, for a command that changes
// their marks without a window; every complaint is one line on `err`.
class DataFolderRun
{
public:
    explicit DataFolderRun(QTextStream &err)
        : kwc(&slc, &programmes)
    {
        auto complain = [&err, this](const QString &text) {
            err << "pallaro: " << text.trimmed() << "\n";
            err.flush();
            failed = true;
        };
        QObject::connect(&log, &StatusLog::appended, complain);
        setSystemLogSink(complain);
        kwc.setStatusLog(&log);
        slc.setKeywordController(&kwc);
        controller.setSourceList(&slc);
        controller.loadExistingTGDs();
        kwc.loadRules();
    }
    ~DataFolderRun() { setSystemLogSink({}); }

    StatusLog log;
    SourceListController slc;
    TGDPickerController programmes;
    KeywordController kwc;
    EPGController controller { &log };
    bool failed = false;
};

bool haveOutputFolder(QTextStream &err)
{
    Settings::registerDefaults();
    if (QFileInfo(Paths::outputFolder()).isDir())
        return true;
    err << "pallaro: no output folder: " << Paths::outputFolder() << "\n";
    return false;
}

// Without a window: the day files and the decisions, under the data-folder lock.
int markHere(const MarkRequest &r, QTextStream &out, QTextStream &err)
{
    if (!haveOutputFolder(err))
        return 2;
    TGDEntryList found;
    bool written = false, failed = false;
    {
        DataFolderRun run(err);
        found = run.kwc.markProgrammes(r.start, r.channel, r.record, r.before, r.after);
        written = run.kwc.writeOutDataChecked();
        failed = run.failed;
    }
    for (const TGDEntryPtr &e : found)
        out << markLine(*e) << '\n';
    out.flush();
    if (!written || failed)
        return 2;
    if (found.empty()) {
        err << "pallaro: no programme starts at " << r.start << " on " << r.channel << "\n";
        return 1;
    }
    return 0;
}

} // namespace

int runMarkCommand(const CommandLineOptions &options, QTextStream &out, QTextStream &err)
{
    QString why;
    const std::optional<MarkRequest> r = markRequest(options, &why);
    if (!r) {
        err << "pallaro: " << why << "\n";
        return 2;
    }
    // A running window holds the marks in memory: it makes the change, or its next
    // write would undo it.
    if (const std::optional<int> status = forwardMarkToWindow(*r, out, err))
        return *status;
    return markHere(*r, out, err);
}

int runConvertCommand(const CommandLineOptions &options, QTextStream &out, QTextStream &err)
{
    const QString &xmltv = options.convert->at(0);
    const QString &folder = options.convert->at(1);
    Settings::registerDefaults();
    const QFileInfo target(folder), own(Paths::outputFolder());
    const bool intoOwn = target.absoluteFilePath() == own.absoluteFilePath()
        || (target.exists() && target.canonicalFilePath() == own.canonicalFilePath());
    if (!intoOwn)
        return runConvert(xmltv, folder, options.convertXml, out, err);
    // Into Pallaro's own output folder it is a fetch from a local file: no other writer
    // comes between the new day files and the marks the reload puts on them.
    DataFolderLock::setReporter([&out](const QString &line) {
        out << line << "\n";
        out.flush();
    });
    DataFolderLock writing;
    DataFolderLock::setReporter({});
    const int converted = runConvert(xmltv, folder, options.convertXml, out, err);
    if (converted != 0)
        return converted;
    DataFolderRun run(err);
    const bool reloaded = run.kwc.runReloadCycle(QStringLiteral("NoSave"));
    if (!reloaded || run.failed) {
        err << "pallaro: the day files were written, but the reload that marks them failed\n";
        return 2;
    }
    out << "Hand marks and keyword rules applied.\n";
    return 0;
}
