#include "base/WholeFile.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

// The umask without changing it: umask(2) would, for a moment, for every thread.
mode_t readUmask()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : status.readAll().split('\n'))
            if (line.startsWith("Umask:"))
                return mode_t(line.mid(6).trimmed().toUInt(nullptr, 8));
    }
    return 022;
}

// Read once: Pallaro never changes its umask, and every day file of a write-out would
// otherwise read /proc again.
mode_t currentUmask()
{
    static const mode_t mask = readUmask();
    return mask;
}

bool writeAll(int fd, const char *data, qsizetype size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size_t(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= n;
    }
    return true;
}

// Writes the content beside `path` under a name of its own and answers that name; empty
// on failure, with nothing left behind.
QByteArray stageWholeFile(const QString &path,
    const std::function<bool(const WholeFileSink &)> &produce, QString *error, int permissions)
{
    const QByteArray target = QFile::encodeName(path);
    QByteArray temp = target + ".XXXXXX";
    int savedErrno = 0;
    auto fail = [&](const char *what) {
        if (error)
            *error = path + QStringLiteral(": ") + QString::fromUtf8(what)
                + (savedErrno
                        ? QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(savedErrno))
                        : QString());
    };

    // mkstemp makes the file itself (O_EXCL), so nothing planted beside it is written to.
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        savedErrno = errno;
        fail("cannot write beside it");
        return {};
    }
    mode_t mode = 0666 & ~currentUmask();
    struct stat old {
    };
    if (permissions >= 0)
        mode = mode_t(permissions);
    else if (::lstat(target.constData(), &old) == 0 && S_ISREG(old.st_mode))
        mode = old.st_mode & 07777;

    QByteArray buffer;
    constexpr qsizetype kBuffer = 64 * 1024;
    bool written = true;
    const WholeFileSink sink = [&](QByteArrayView piece) {
        if (written && buffer.size() + piece.size() > kBuffer) {
            written = writeAll(fd, buffer.constData(), buffer.size());
            buffer.clear();
        }
        if (written && piece.size() > kBuffer)
            written = writeAll(fd, piece.data(), piece.size());
        else if (written)
            buffer.append(piece.data(), piece.size());
        if (!written && !savedErrno)
            savedErrno = errno;
        return written;
    };
    const bool produced = produce(sink);
    if (produced && written) {
        written = writeAll(fd, buffer.constData(), buffer.size()) && ::fchmod(fd, mode) == 0
            && ::fsync(fd) == 0;
        if (!written)
            savedErrno = errno;
    }
    if (::close(fd) != 0 && written && produced) {
        savedErrno = errno;
        written = false;
    }
    if (produced && written)
        return temp;
    ::unlink(temp.constData());
    fail(produced ? "cannot be written" : "writing was given up");
    return {};
}

// rename() puts the new file in the place of whatever name stood there, a link included,
// so a link planted at `path` is replaced, not followed.
bool putInPlace(const QByteArray &staged, const QString &path, QString *error)
{
    if (::rename(staged.constData(), QFile::encodeName(path).constData()) == 0)
        return true;
    if (error)
        *error = path + QStringLiteral(": cannot be written: ")
            + QString::fromLocal8Bit(std::strerror(errno));
    ::unlink(staged.constData());
    return false;
}

} // namespace

bool writeWholeFile(const QString &path, const std::function<bool(const WholeFileSink &)> &produce,
    QString *error, int permissions)
{
    const QByteArray staged = stageWholeFile(path, produce, error, permissions);
    return !staged.isEmpty() && putInPlace(staged, path, error);
}

bool writeWholeFile(const QString &path, const QByteArray &bytes, QString *error, int permissions)
{
    return writeWholeFile(
        path, [&bytes](const WholeFileSink &sink) { return sink(bytes); }, error, permissions);
}

bool writeChangedFile(const QString &path, const QByteArray &bytes, QString *error)
{
    // Only a plain file of ours counts as unchanged; a link is replaced.
    struct stat st {
    };
    const QByteArray name = QFile::encodeName(path);
    if (::lstat(name.constData(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size == bytes.size()) {
        QFile old(path);
        if (old.open(QIODevice::ReadOnly) && old.readAll() == bytes)
            return true;
    }
    return writeWholeFile(path, bytes, error);
}

WholeFileSet::~WholeFileSet()
{
    for (const auto &file : staged_)
        ::unlink(file.second.constData());
}

bool WholeFileSet::add(const QString &path, const QByteArray &bytes, QString *error)
{
    const QByteArray staged = stageWholeFile(
        path, [&bytes](const WholeFileSink &sink) { return sink(bytes); }, error, -1);
    if (staged.isEmpty())
        return false;
    staged_.emplace_back(path, staged);
    return true;
}

bool WholeFileSet::commit(QString *error)
{
    // Renames need no room, so once every file is written the set goes in whole.
    bool ok = true;
    for (const auto &[path, staged] : staged_)
        ok = putInPlace(staged, path, ok ? error : nullptr) && ok;
    staged_.clear();
    return ok;
}
