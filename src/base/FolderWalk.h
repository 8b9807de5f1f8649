#pragma once

#include <QString>
#include <QStringList>

// Walks of the output folder, shared by the scan and the fetch.

// Every entry below `folder`, by relative path, sorted so that day files come in date order.
QStringList walkSorted(const QString &folder);
// The text after the last "." of the entry's name; null when the name has none.
QString extensionOf(const QString &relativePath);
// The relative path without ".extension".
QString withoutExtension(const QString &relativePath);
