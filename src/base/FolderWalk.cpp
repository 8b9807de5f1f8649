#include "base/FolderWalk.h"

#include <QDir>
#include <QDirIterator>

#include <algorithm>

QStringList walkSorted(const QString &folder)
{
    QStringList entries;
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    const QDir base(folder);
    while (it.hasNext())
        entries << base.relativeFilePath(it.next());
    std::sort(entries.begin(), entries.end());
    return entries;
}

QString extensionOf(const QString &relativePath)
{
    const QString name = relativePath.section(QLatin1Char('/'), -1);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : name.mid(dot + 1);
}

QString withoutExtension(const QString &relativePath)
{
    const QString ext = extensionOf(relativePath);
    return ext.isNull() ? relativePath : relativePath.left(relativePath.size() - ext.size() - 1);
}
