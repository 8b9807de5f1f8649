#include "base/JsonFile.h"

#include "base/WholeFile.h"

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

bool writeJsonList(const QString &path, const QString &key, const QJsonArray &list, QString *error)
{
    QJsonObject root;
    root.insert(QStringLiteral("version"), 1);
    root.insert(key, list);
    return writeChangedFile(path, QJsonDocument(root).toJson(), error);
}
