#include "support/SmallDisk.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStorageInfo>
#include <fcntl.h>
#include <unistd.h>

SmallDisk::SmallDisk(const QString &folder)
    : folder_(folder)
{
    QDir().mkpath(folder);
    QProcess mount;
    mount.start("mount", { "-t", "tmpfs", "-o", "size=8m", "tmpfs", folder });
    mounted_ = mount.waitForFinished() && mount.exitStatus() == QProcess::NormalExit
        && mount.exitCode() == 0;
    why_ = mount.error() == QProcess::FailedToStart
        ? mount.errorString()
        : QString::fromLocal8Bit(mount.readAllStandardError()).trimmed();
}

SmallDisk::~SmallDisk()
{
    if (mounted_)
        QProcess::execute("umount", { "-l", folder_ });
}

bool SmallDisk::leaveFree(qint64 bytes) const
{
    const qint64 take = QStorageInfo(folder_).bytesAvailable() - bytes;
    const int fd = ::open(QFile::encodeName(folder_ + "/filler").constData(),
        O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    // Allocated, not sparse: tmpfs would give a file of holes no room at all.
    const bool taken = fd >= 0 && take > 0 && ::posix_fallocate(fd, 0, take) == 0;
    if (fd >= 0)
        ::close(fd);
    return taken;
}
