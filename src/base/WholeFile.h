#pragma once

#include <QByteArray>
#include <QString>
#include <functional>

// Replaces the file at `path` with `bytes` atomically: readers see the old content or the
// new, never a part. A link standing at `path` is replaced, never written through. Answers
// success; on failure fills `error` (when given) and leaves the old file as it was.
// `permissions` (a Unix mode) of -1 keeps those of the file replaced, or gives a new file
// the usual ones (0666 less the umask).
bool writeWholeFile(
    const QString &path, const QByteArray &bytes, QString *error = nullptr, int permissions = -1);
// The same, leaving alone a file that already holds exactly `bytes`: its time and inode
// stay, and nothing is written.
bool writeChangedFile(const QString &path, const QByteArray &bytes, QString *error = nullptr);

// The same for content made piece by piece, so that it need never be whole in memory:
// `produce` hands each piece to the sink it is given and answers false to give up (the old
// file then stays); the sink answers false when a piece cannot be written.
using WholeFileSink = std::function<bool(QByteArrayView)>;
bool writeWholeFile(const QString &path, const std::function<bool(const WholeFileSink &)> &produce,
    QString *error = nullptr, int permissions = -1);
