#include "support/TempHome.h"

#include "base/SystemLog.h"
#include "support/FixedClock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <memory>

TempHome::TempHome()
    : oldHome_(qgetenv("HOME"))
    , oldData_(qgetenv("XDG_DATA_HOME"))
    , oldConfig_(qgetenv("XDG_CONFIG_HOME"))
{
    qputenv("HOME", dir_.path().toLocal8Bit());
    qputenv("XDG_DATA_HOME", (dir_.path() + "/.local/share").toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (dir_.path() + "/.config").toLocal8Bit());
    // QSettings remembers its folder from first use; point it here explicitly.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir_.path() + "/.config");
}

TempHome::~TempHome()
{
    qputenv("HOME", oldHome_);
    qputenv("XDG_DATA_HOME", oldData_);
    qputenv("XDG_CONFIG_HOME", oldConfig_);
}

QString TempHome::supportFolder() const
{
    return dir_.path() + "/.local/share/Pallaro";
}

struct SystemLogCapture::State {
    QMutex mutex;
    QStringList lines;
};

SystemLogCapture::SystemLogCapture()
    : state_(std::make_shared<State>())
{
    std::shared_ptr<State> s = state_;
    setSystemLogSink([s](const QString &line) {
        QMutexLocker lock(&s->mutex);
        s->lines << line;
    });
}

SystemLogCapture::~SystemLogCapture()
{
    setSystemLogSink({});
}

QStringList SystemLogCapture::lines() const
{
    QMutexLocker lock(&state_->mutex);
    return state_->lines;
}

bool writeFile(const QString &path, const QByteArray &contents)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return f.write(contents) == contents.size();
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

int runPallaro(const QStringList &arguments, const QStringList &environment, QString *out,
               QString *err, int timeoutMs)
{
    QProcess p;
    useFixedClock(p, environment);
    p.start(qEnvironmentVariable("PALLARO_EXECUTABLE"), arguments);
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        return -1;
    }
    if (out)
        *out = QString::fromLocal8Bit(p.readAllStandardOutput());
    if (err)
        *err = QString::fromLocal8Bit(p.readAllStandardError());
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}
