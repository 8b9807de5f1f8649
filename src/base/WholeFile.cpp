#include "base/WholeFile.h"

#include <QFile>
#include <QSaveFile>

bool writeWholeFile(const QString &path, const QByteArray &bytes, QString *error)
{
    QSaveFile f(path);
    if (f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() && f.commit())
        return true;
    if (error)
        *error = path + QStringLiteral(": ") + f.errorString();
    return false;
}

bool writeWholeFile(const QString &path, const std::function<bool(const WholeFileSink &)> &produce,
    QString *error)
{
    QSaveFile f(path);
    const WholeFileSink sink = [&f](QByteArrayView piece) {
        return f.write(piece.data(), piece.size()) == piece.size();
    };
    if (f.open(QIODevice::WriteOnly) && produce(sink) && f.commit())
        return true;
    if (error)
        *error = path + QStringLiteral(": ") + f.errorString();
    return false;
}

bool writeChangedFile(const QString &path, const QByteArray &bytes, QString *error)
{
    QFile old(path);
    if (old.open(QIODevice::ReadOnly) && old.size() == bytes.size() && old.readAll() == bytes)
        return true;
    old.close();
    return writeWholeFile(path, bytes, error);
}
