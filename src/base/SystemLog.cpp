#include "base/SystemLog.h"

#include <QMutex>

#include <syslog.h>

namespace {
QMutex sinkMutex;
std::function<void(const QString &)> &sink()
{
    static std::function<void(const QString &)> s;
    return s;
}
} // namespace

void systemLog(const QString &line)
{
    {
        QMutexLocker lock(&sinkMutex);
        if (sink()) {
            sink()(line);
            return;
        }
    }
    static const bool opened = [] {
        openlog("Pallaro", LOG_PID, LOG_USER);
        return true;
    }();
    (void)opened;
    syslog(LOG_NOTICE, "%s", line.toUtf8().constData());
}

void setSystemLogSink(std::function<void(const QString &)> newSink)
{
    QMutexLocker lock(&sinkMutex);
    sink() = std::move(newSink);
}
