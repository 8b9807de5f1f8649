#include "app/AutoRun.h"

#include "app/Unattended.h"
#include "base/Paths.h"
#include "base/Settings.h"
#include "base/WholeFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>

namespace
{

const QString kTimer = QStringLiteral("pallaro-daily.timer");
const QStringList kUnits = { QStringLiteral("pallaro-daily.service"), kTimer };

// systemd reads "%" as the start of a specifier, and a quoted value ends at '"'.
QString unitText(QString path)
{
    return path.replace(QLatin1Char('%'), QLatin1String("%%"));
}

QString quotedUnitText(const QString &path)
{
    QString text = unitText(path);
    text.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    text.replace(QLatin1Char('"'), QLatin1String("\\\""));
    return text;
}

} // namespace

SystemdAutoRun::SystemdAutoRun(std::function<void(const QString &)> report)
    : report_(report ? std::move(report) : [](const QString &) {})
{
}

QString SystemdAutoRun::unitFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/systemd/user");
}

QString SystemdAutoRun::fillTemplate(
    QString text, const QString &appSupport, const QDateTime &time, const QString &executable)
{
    const QDateTime local = time.toLocalTime();
    text.replace(QLatin1String("$APPSUPPORT"), unitText(appSupport));
    text.replace(QLatin1String("$HOUR"), local.toString(QStringLiteral("HH")));
    text.replace(QLatin1String("$MINUTE"), local.toString(QStringLiteral("mm")));
    text.replace(QLatin1String("$PALLARO"), quotedUnitText(executable));
    text.replace(QLatin1String("$TRIESWINDOW"), QString::number(Unattended::kTriesWindowSeconds));
    text.replace(QLatin1String("$TRIES"), QString::number(Unattended::kTries));
    text.replace(QLatin1String("$RETRYSEC"), QString::number(Unattended::kRetrySeconds));
    return text;
}

QString SystemdAutoRun::nextRun()
{
    const QString program = QStandardPaths::findExecutable(QStringLiteral("systemctl"));
    if (program.isEmpty())
        return {};
    QProcess process;
    process.start(program,
        { QStringLiteral("--user"), QStringLiteral("show"), kTimer,
            QStringLiteral("--property=NextElapseUSecRealtime"), QStringLiteral("--value") });
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    const QString next = QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0
        || next == QLatin1String("n/a") || next == QLatin1String("0"))
        return {};
    return next.section(QLatin1Char('\n'), 0, 0);
}

void SystemdAutoRun::setAutoRun(bool on)
{
    const QDir folder(unitFolder());
    // Nothing installed: systemctl would only complain about a unit it does not know.
    if (!on && !folder.exists(kTimer) && !folder.exists(kUnits.first()))
        return;
    // Found on PATH at each call, so tests can put a recorder first.
    const QString program = QStandardPaths::findExecutable(QStringLiteral("systemctl"));
    if (program.isEmpty())
        report_(QStringLiteral("systemctl is not on PATH: the daily run is not %1")
                    .arg(on ? QStringLiteral("scheduled") : QStringLiteral("unscheduled")));
    if (!on) {
        systemctl(program, { QStringLiteral("disable"), QStringLiteral("--now"), kTimer });
        for (const QString &unit : kUnits)
            QFile::remove(folder.filePath(unit));
        systemctl(program, { QStringLiteral("daemon-reload") });
        return;
    }

    if (!QDir().mkpath(folder.path()))
        report_(QStringLiteral("Cannot make the folder %1").arg(folder.path()));
    const QDateTime time = Settings::date(QStringLiteral("autoRunTime"));
    for (const QString &unit : kUnits) {
        QFile source(Paths::resourcesFolder() + unit);
        if (!source.open(QIODevice::ReadOnly)) {
            // The unit on disk, if any, stays as it was.
            report_(QStringLiteral("Cannot read the template %1").arg(source.fileName()));
            continue;
        }
        const QString text = fillTemplate(QString::fromUtf8(source.readAll()),
            Paths::applicationSupportFolder(), time,
            // The user's command, also when the window program writes the units.
            qEnvironmentVariable("PALLARO_COMMAND", QCoreApplication::applicationFilePath()));
        QString why;
        if (!writeWholeFile(folder.filePath(unit), text.toUtf8(), &why))
            report_(QStringLiteral("Cannot write %1: %2").arg(folder.filePath(unit), why));
    }
    systemctl(program, { QStringLiteral("daemon-reload") });
    systemctl(program, { QStringLiteral("enable"), QStringLiteral("--now"), kTimer });
    // enable --now leaves a timer that already runs on its old time.
    systemctl(program, { QStringLiteral("restart"), kTimer });
}

void SystemdAutoRun::systemctl(const QString &program, const QStringList &arguments)
{
    const QString command = QStringLiteral("systemctl --user ") + arguments.join(QLatin1Char(' '));
    if (program.isEmpty())
        return;
    QProcess process;
    process.start(program, QStringList { QStringLiteral("--user") } + arguments);
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished();
        report_(command + QStringLiteral(" did not finish"));
        return;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        const QString why = QString::fromLocal8Bit(process.readAllStandardError())
                                .trimmed()
                                .section(QLatin1Char('\n'), 0, 0);
        report_(command + QStringLiteral(" failed") + (why.isEmpty() ? QString() : ": " + why));
    }
}
