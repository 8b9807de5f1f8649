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

} // namespace

bool writeWholeFile(const QString &path, const std::function<bool(const WholeFileSink &)> &produce,
    QString *error, int permissions)
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
        return false;
    };

    // mkstemp makes the file itself (O_EXCL), so nothing planted beside it is written to.
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        savedErrno = errno;
        return fail("cannot write beside it");
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
    // rename() puts the new file in the place of whatever name stood there, a link included,
    // so a link planted at `path` is replaced, not followed.
    if (produced && written && ::rename(temp.constData(), target.constData()) == 0)
        return true;
    if (produced && written)
        savedErrno = errno;
    ::unlink(temp.constData());
    return fail(produced ? "cannot be written" : "writing was given up");
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
