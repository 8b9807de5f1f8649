#pragma once

#include <QByteArray>
#include <QString>

// A look at property-list bytes before libplist parses them. libplist builds and frees its
// trees recursively (and copies a binary object once per reference), so a deeply nested or
// self-multiplying document would exhaust the stack or the memory; a NUL inside a string
// trips its assertions. Bytes that pass build a tree no deeper than `maxDepth` containers,
// of a size linear in theirs, with no NUL in any string.
namespace PlistScreen
{

// Whether the bytes may go to plist_from_memory. `why` receives a one-line reason.
bool safeToParse(const QByteArray &bytes, int maxDepth, QString *why = nullptr);

} // namespace PlistScreen
