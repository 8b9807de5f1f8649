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
    QString error;                        // non-empty when the arguments are unusable
};

CommandLineOptions parseCommandLine(const QStringList &arguments);
QString commandLineHelp();

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

// Runs the controllers without a window: start-up, then every requested command in turn,
// printing the StatusLog to standard output as it grows. Needs a QCoreApplication.
// Answers the exit status: non-zero when a command failed.
int runHeadless(const CommandLineOptions &options);
