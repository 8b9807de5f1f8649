#pragma once

#include <QByteArray>
#include <QString>

// Replaces the file at `path` with `bytes` atomically: readers see the old content or the
// new, never a part. Answers success; on failure fills `error` (when given) and leaves
// the old file as it was.
bool writeWholeFile(const QString &path, const QByteArray &bytes, QString *error = nullptr);
