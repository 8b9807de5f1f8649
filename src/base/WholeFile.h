#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <utility>
#include <vector>

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

// Several files replaced together: each is written beside its place as it is added, and
// commit() puts them all in place; a set destroyed before that leaves every old file as it
// was. For a guide whose days must come from one source, never some old and some new.
class WholeFileSet
{
public:
    WholeFileSet() = default;
    ~WholeFileSet();
    WholeFileSet(const WholeFileSet &) = delete;
    WholeFileSet &operator=(const WholeFileSet &) = delete;

    // Answers false, with `error` filled, when the file could not be written beside `path`.
    bool add(const QString &path, const QByteArray &bytes, QString *error = nullptr);
    // `error` names the first file that could not be put in place.
    bool commit(QString *error = nullptr);

private:
    std::vector<std::pair<QString, QByteArray>> staged_; // place, written file
};
