#pragma once

#include <QDateTime>
#include <QStringList>
#include <QVariant>

#include <optional>
#include <vector>

// The per-user settings store. Defaults live in code and are never written to disk;
// only the preferences dialog and `pallaro --set` write. Reads are safe from any thread.
namespace Settings {

enum class Type { String, Boolean, Integer, StringList, Date };

struct Definition {
    QString key;
    Type type;
    QVariant defaultValue; // invalid when the key has no registered default
    QString meaning;
};

// Every key the program reads, with its type and registered default.
const std::vector<Definition> &table();
const Definition *definition(const QString &key);

// Puts the table's defaults in force (start-up step); before it, unset keys read as absent.
void registerDefaults();

// The stored value converted to the key's type, else the registered default, else invalid.
QVariant value(const QString &key);
QString string(const QString &key);
bool boolean(const QString &key);
int integer(const QString &key);
QStringList stringList(const QString &key);
QDateTime date(const QString &key);

void setValue(const QString &key, const QVariant &value);
void synchronize();

// Text forms used by the command line: lists comma-separated, booleans YES/NO,
// "autoRunTime" as HH:MM local time. parseText returns nothing for text the type rejects.
std::optional<QVariant> parseText(const QString &key, const QString &text);
QString formatText(const QString &key, const QVariant &value);

// "provider" "UK": the guide comes from the grabber and converter scripts, not an archive.
bool usesScriptFetch();

// The Australian regions offered for "location".
const QStringList &regions();

} // namespace Settings
