#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <atomic>

// Takes the guide out of a provider's zip archive and nothing else: the members named
// "xmltv.xml" and "-", each only as a regular file's bytes. Links, folders, every other
// member and every other name (absolute, "..", "dir/xmltv.xml") are passed over, so the
// archive decides neither where anything is written nor what else is.
namespace GuideArchive
{

// The guide names, in the order the conversion reads them.
const QStringList &guideNames();

struct Limits {
    qint64 maxMemberBytes = qint64(1) << 30; // a larger guide is refused, not written
    const std::atomic<bool> *cancel = nullptr;
};

// Writes the guide members of `zip` (bytes in memory) into `folder`, which only this
// program writes: each under its own name, as a new file. Answers the names written, in
// guideNames() order; empty with `why` filled when the archive is broken, holds no guide,
// a guide is too large or `cancel` turned true.
QStringList extract(
    const QByteArray &zip, const QString &folder, const Limits &limits, QString *why = nullptr);
// The same for an archive on disk, read only when it is a regular file.
QStringList extractFile(
    const QString &zipPath, const QString &folder, const Limits &limits, QString *why = nullptr);

} // namespace GuideArchive
