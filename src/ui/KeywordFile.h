#pragma once

#include "ui/KeywordRule.h"

#include <QString>
#include <optional>

// "Keywords.plist": an XML property list whose root is an array of rule dictionaries.
namespace KeywordFile
{

// The rules stored at `path`; nothing when the file is missing or cannot be read. A file
// that is there but cannot be read (not a property list with an array at its root, damaged,
// nested absurdly deep, a NUL inside a text) is renamed to "<path>.bad" (".bad.1" and on
// when that name is taken) so the next store cannot overwrite it, and one line saying so
// goes to `setAside`, or to the system log when it is null.
std::optional<KeywordRules> read(const QString &path, QString *setAside = nullptr);

// The file's bytes for these rules. A match value a property list cannot hold (the
// channel picture of the "Now on" list, say) is left out, so every rule list can be stored.
// Made a rule and a batch of matches at a time, never the tree of the whole file at once.
QByteArray toXml(const KeywordRules &rules);
// The same bytes from libplist's tree of the whole list: the reference, and the way out
// should libplist ever frame its text otherwise.
QByteArray wholeTreeXml(const KeywordRules &rules);
// Rules from property-list bytes (XML or binary); nothing when they are not a rule list,
// with the reason in `why`. Never hands libplist bytes it cannot parse safely.
std::optional<KeywordRules> fromBytes(const QByteArray &bytes, QString *why = nullptr);

// Replaces the file whole and atomically. Answers success.
bool write(const QString &path, const KeywordRules &rules);

} // namespace KeywordFile
