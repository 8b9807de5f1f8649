#include "base/JsonFile.h"

#include <QFile>
#include <QJsonDocument>

std::optional<QJsonObject> readJsonObject(const QString &path, QString *problem)
{
    QFile file(path);
    if (!file.exists())
        return QJsonObject {};
    if (!file.open(QIODevice::ReadOnly)) {
        *problem = file.errorString();
        return std::nullopt;
    }
    QJsonParseError parseError {};
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        *problem = parseError.errorString();
        return std::nullopt;
    }
    return doc.object();
}
