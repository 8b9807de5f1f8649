#include "app/GuideArchive.h"

#include "base/StatusLog.h"

#include <QFile>
#include <archive.h>
#include <archive_entry.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace GuideArchive
{
namespace
{

using Reader = std::unique_ptr<archive, decltype(&archive_read_free)>;

QString errnoText()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

QString archiveError(archive *a)
{
    const char *text = archive_error_string(a);
    return text ? QString::fromUtf8(text) : QStringLiteral("the archive cannot be read");
}

bool writeAll(int fd, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

// Copies the data of the current member into a new file; false with `why` on failure, and
// the part written is removed.
bool copyMember(archive *a, const QString &path, const Limits &limits, QString *why)
{
    const QByteArray name = QFile::encodeName(path);
    const int fd
        = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        *why = path + QStringLiteral(": ") + errnoText();
        return false;
    }
    char buffer[64 * 1024];
    qint64 total = 0;
    bool ok = true;
    for (;;) {
        if (limits.cancel && *limits.cancel) {
            *why = QStringLiteral("stopped");
            ok = false;
            break;
        }
        const la_ssize_t n = archive_read_data(a, buffer, sizeof buffer);
        if (n == 0)
            break;
        if (n < 0) {
            *why = archiveError(a);
            ok = false;
            break;
        }
        total += n;
        if (total > limits.maxMemberBytes) {
            *why = QStringLiteral("the guide in the archive is larger than %1 MB")
                       .arg(limits.maxMemberBytes >> 20);
            ok = false;
            break;
        }
        if (!writeAll(fd, buffer, size_t(n))) {
            *why = path + QStringLiteral(": ") + errnoText();
            ok = false;
            break;
        }
    }
    if (::close(fd) != 0 && ok) {
        *why = path + QStringLiteral(": ") + errnoText();
        ok = false;
    }
    if (!ok)
        ::unlink(name.constData());
    return ok;
}

// A member's name as a line of the StatusLog can show it: quoted, without control
// characters, cut short.
QString shownName(const QString &name)
{
    return QLatin1Char('"') + printableText(name.left(60))
        + (name.size() > 60 ? QStringLiteral("...\"") : QStringLiteral("\""));
}

// What an archive without a guide held instead: its first few names.
QString heldInstead(const QStringList &others, int count)
{
    QStringList shown;
    for (const QString &name : others)
        shown << shownName(name);
    QString text = shown.join(QStringLiteral(", "));
    if (count > others.size())
        text += QStringLiteral(" and %1 more").arg(count - others.size());
    return text;
}

QStringList extractFrom(archive *a, const QString &folder, const Limits &limits, QString *why)
{
    QString reason;
    QStringList written;
    QString passedOver;
    QStringList others;
    int otherCount = 0;
    archive_entry *entry = nullptr;
    int status;
    while ((status = archive_read_next_header(a, &entry)) == ARCHIVE_OK || status == ARCHIVE_WARN) {
        const char *raw = archive_entry_pathname(entry);
        const QString name = raw ? QString::fromUtf8(raw) : QString();
        if (!guideNames().contains(name) && ++otherCount <= 3)
            others << name;
        if (!guideNames().contains(name) || written.contains(name))
            continue; // the reader skips the member's data
        if (archive_entry_filetype(entry) != AE_IFREG) {
            passedOver = name;
            continue;
        }
        if (archive_entry_size_is_set(entry) && archive_entry_size(entry) > limits.maxMemberBytes) {
            reason = QStringLiteral("the guide in the archive is larger than %1 MB")
                         .arg(limits.maxMemberBytes >> 20);
            break;
        }
        if (!copyMember(a, folder + QLatin1Char('/') + name, limits, &reason))
            break;
        written << name;
    }
    if (reason.isEmpty() && status != ARCHIVE_EOF && status != ARCHIVE_OK && status != ARCHIVE_WARN)
        reason = QStringLiteral("not a zip archive the program can read: ") + archiveError(a);
    if (!reason.isEmpty()) {
        for (const QString &name : written)
            QFile::remove(folder + QLatin1Char('/') + name);
        written.clear();
    } else if (written.isEmpty()) {
        reason = !passedOver.isEmpty()
            ? QStringLiteral("the archive's \"%1\" is not a regular file").arg(passedOver)
            : otherCount == 0 ? QStringLiteral("the archive is empty")
                              : QStringLiteral("the archive holds no \"xmltv.xml\", only %1")
                                    .arg(heldInstead(others, otherCount));
    }
    if (why && written.isEmpty())
        *why = reason;
    QStringList ordered;
    for (const QString &name : guideNames())
        if (written.contains(name))
            ordered << name;
    return ordered;
}

Reader newReader()
{
    Reader a(archive_read_new(), &archive_read_free);
    if (a)
        archive_read_support_format_zip(a.get());
    return a;
}

} // namespace

const QStringList &guideNames()
{
    static const QStringList names = { QStringLiteral("xmltv.xml"), QStringLiteral("-") };
    return names;
}

QStringList extract(
    const QByteArray &zip, const QString &folder, const Limits &limits, QString *why)
{
    Reader a = newReader();
    if (!a
        || archive_read_open_memory(a.get(), zip.constData(), size_t(zip.size())) != ARCHIVE_OK) {
        if (why)
            *why = QStringLiteral("not a zip archive: ") + (a ? archiveError(a.get()) : QString());
        return {};
    }
    return extractFrom(a.get(), folder, limits, why);
}

QStringList extractFile(
    const QString &zipPath, const QString &folder, const Limits &limits, QString *why)
{
    const QByteArray name = QFile::encodeName(zipPath);
    // Never blocks on a pipe nor follows a link standing in the archive's place.
    const int fd = ::open(name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat st {
    };
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (why)
            *why = zipPath
                + (fd < 0 ? QStringLiteral(": ") + errnoText()
                          : QStringLiteral(" is not a regular file"));
        if (fd >= 0)
            ::close(fd);
        return {};
    }
    Reader a = newReader();
    if (!a || archive_read_open_fd(a.get(), fd, 64 * 1024) != ARCHIVE_OK) {
        if (why)
            *why = QStringLiteral("not a zip archive: ") + (a ? archiveError(a.get()) : QString());
        ::close(fd);
        return {};
    }
    QStringList written = extractFrom(a.get(), folder, limits, why);
    a.reset();
    ::close(fd);
    return written;
}

} // namespace GuideArchive
