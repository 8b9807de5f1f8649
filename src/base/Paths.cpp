#include "base/Paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QMutex>
#include <QStandardPaths>

namespace Paths {
namespace {
QMutex overrideMutex;
QString programFolderOverride;

QString withSlash(QString path)
{
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return path;
}
} // namespace

QString applicationSupportFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
           + QStringLiteral("/Pallaro");
}

QString outputFolder()
{
    return applicationSupportFolder() + QStringLiteral("/output");
}

QString programFolder()
{
    {
        QMutexLocker lock(&overrideMutex);
        if (!programFolderOverride.isEmpty())
            return withSlash(programFolderOverride);
    }
    const QString env = qEnvironmentVariable("PALLARO_PROGRAM_FOLDER");
    if (!env.isEmpty())
        return withSlash(env);
    const QString bin = QCoreApplication::instance() ? QCoreApplication::applicationDirPath()
                                                     : QDir::currentPath();
    return withSlash(QDir::cleanPath(bin + QStringLiteral("/../share/pallaro")));
}

QString resourcesFolder()
{
    return programFolder() + QStringLiteral("resources/");
}

void setProgramFolder(const QString &folder)
{
    QMutexLocker lock(&overrideMutex);
    programFolderOverride = folder;
}

} // namespace Paths
