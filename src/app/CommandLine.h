#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <vector>

class QDate;
class QTextStream;

// What the command line asked for.
struct CommandLineOptions {
    bool help = false;
    bool headless = false;
    std::optional<QString> getKey; // --get KEY
    bool download = false;                // --download: fetch the guide
    std::optional<QString> setAssignment; // --set KEY=VALUE
    std::optional<QStringList> convert;   // --convert XMLTV_FILE OUTPUT_FOLDER
    bool convertXml = false;              // --xml: day XMLTV files as well
    bool upload = false;                  // --upload
    std::optional<QString> pvrSimFolder;  // --pvr-sim FOLDER
    bool reload = false;                  // --reload: one keyword reload cycle
    std::optional<QString> search;        // --search TEXT
    bool nowOn = false;                   // --now-on
    std::optional<QString> at;            // --at "YYYY-MM-DD HH:MM" (with --now-on)
    bool rules = false; // --rules
    std::optional<QString> mark;          // --mark "YYYY-MM-DD HH:MM" CHANNEL
    std::optional<QString> unmark;        // --unmark "YYYY-MM-DD HH:MM" CHANNEL
    QString markChannel;                  // CHANNEL of --mark / --unmark
    std::optional<QString> pad;           // --pad BEFORE,AFTER (with --mark)
    bool status = false; // --status
    QString error;                        // non-empty when the arguments are unusable
};

CommandLineOptions parseCommandLine(const QStringList &arguments);
QString commandLineHelp();
// Every long option the parser knows, "--help" first: what the help, the man page and the
// bash completion must each name.
QStringList commandLineOptionNames();

// True when the options ask for the window rather than a command-line run.
bool wantsWindow(const CommandLineOptions &options);

// --get / --set: prints the value or the reason it failed; answers the exit status.
int runSettingsCommand(const CommandLineOptions &options, QTextStream &out, QTextStream &err);

// --search: prints "rawStart<TAB>dispChannelString<TAB>title" for every programme of the
// guide days in the output folder that the programme table's search finds, days in
// order, each day as the table lists it; writes nothing. Answers 0 when something was
// found, 1 when nothing was, 2 on an error (like grep). `today` decides the guide days.
int runSearchCommand(const QString &text, const QDate &today, QTextStream &out, QTextStream &err);

// --now-on: prints "channel<TAB>rawStart<TAB>title" for every programme on air at `at`
// (local "YYYY-MM-DD HH:MM"; absent: now) in the day files the keyword reload reads, in
// the full list's order; writes nothing. Answers 0 when something is on, 1 when nothing
// is, 2 on an error.
int runNowOnCommand(const std::optional<QString> &at, QTextStream &out, QTextStream &err);

// --rules: prints each keyword rule on a line of TAB-separated fields: its number, its
// keywords and its negatives (non-empty terms separated by ", "), its narrowing keys
// ("KEY=VALUE" separated by "; "), the programmes it matches in the guide days that
// `today` makes current, and "auto" when it marks them. Writes nothing. Answers 0 when
// there are rules, 1 when there are none, 2 on an error (one line on `err`).
int runRulesCommand(const QDate &today, QTextStream &out, QTextStream &err);

// A hand decision asked for on the command line: the programme(s) starting at a local
// minute on a channel, to be recorded (with extensions) or not.
struct MarkRequest {
    QString start; // "YYYY-MM-DD HH:MM"
    QString channel; // the channel key or its shown name, any case
    bool record = true;
    int before = 0; // minutes earlier
    int after = 0; // minutes later
};
// The request of --mark / --unmark, or why it cannot be one (in `error`).
std::optional<MarkRequest> markRequest(const CommandLineOptions &options, QString *error);

// --mark / --unmark: hands the decision to a running window, or stores it in the day files
// and the hand decisions itself. Prints each programme it found ("rawStart<TAB>channel
// <TAB>title<TAB>record field"). Answers 0 when a programme matched, 1 when none did, 2 on
// an error (one line on `err`).
int runMarkCommand(const CommandLineOptions &options, QTextStream &out, QTextStream &err);

// --convert: a plain conversion into any folder but Pallaro's own output folder; into that
// one, a fetch from a local file: under the data-folder lock, ending with the reload
// cycle (the hand decisions and the rules on the new days).
int runConvertCommand(const CommandLineOptions &options, QTextStream &out, QTextStream &err);

// --status: the guide on disk, the last fetch and upload with their outcomes, the daily
// run and a warning when the guide ends within two days. Answers 0 when the latest run
// succeeded and the guide reaches two days ahead, 1 otherwise, 2 when a record is damaged.
int runStatusCommand(QTextStream &out, QTextStream &err);

// Runs the controllers without a window: start-up, then every requested command in turn,
// printing the StatusLog to standard output as it grows. Needs a QCoreApplication.
// Answers the exit status: non-zero when a command failed.
int runHeadless(const CommandLineOptions &options);
