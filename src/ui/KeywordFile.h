#pragma once

#include "ui/KeywordRule.h"

#include <QString>
#include <optional>

// "Keywords.plist": an XML property list whose root is an array of rule dictionaries.
namespace KeywordFile
{

// The rules stored at `path`; nothing when the file is missing, unreadable or not a
// property list with an array at its root.
std::optional<KeywordRules> read(const QString &path);

// The file's bytes for these rules. A match value a property list cannot hold (the
// channel picture of the "Now on" list, say) is left out, so every rule list can be stored.
QByteArray toXml(const KeywordRules &rules);
// Rules from property-list bytes (XML or binary); nothing when they are not a rule list.
std::optional<KeywordRules> fromBytes(const QByteArray &bytes);

// Replaces the file whole and atomically. Answers success.
bool write(const QString &path, const KeywordRules &rules);

} // namespace KeywordFile
