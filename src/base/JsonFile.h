#pragma once

#include <QJsonObject>
#include <QString>
#include <optional>

// The object at the root of the JSON file at `path`: an empty one when there is no file;
// nothing, with the reason in `problem`, when it cannot be read or is not JSON.
std::optional<QJsonObject> readJsonObject(const QString &path, QString *problem);
