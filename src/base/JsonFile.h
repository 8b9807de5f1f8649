#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <optional>

// The object at the root of the JSON file at `path`: an empty one when there is no file;
// nothing, with the reason in `problem`, when it cannot be read or is not JSON.
std::optional<QJsonObject> readJsonObject(const QString &path, QString *problem);
// Writes {"version": 1, `key`: `list`} to `path` whole and atomically, leaving a file that
// already holds exactly that untouched. Answers success; `error` says why not.
bool writeJsonList(const QString &path, const QString &key, const QJsonArray &list, QString *error);
