#include "ui/HandDecisions.h"

#include "base/JsonFile.h"
#include "base/Paths.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <algorithm>

HandDecisions::HandDecisions(QString path)
    : path_(std::move(path))
{
}

QString HandDecisions::defaultPath()
{
    return Paths::applicationSupportFolder() + QStringLiteral("/HandDecisions.json");
}

QString HandDecisions::key(const QString &channel, const QString &rawStart)
{
    return channel + QLatin1Char('\t') + rawStart;
}

bool HandDecisions::exists() const
{
    return QFileInfo(path_).isFile();
}

std::optional<HandDecisions::Map> HandDecisions::readFile(QString *problem) const
{
    if (!QFile::exists(path_))
        return Map {};
    const std::optional<QJsonObject> doc = readJsonObject(path_, problem);
    if (!doc)
        return std::nullopt;
    const QJsonValue list = doc->value(QStringLiteral("decisions"));
    if (!list.isArray()) {
        *problem = QStringLiteral("no list of decisions");
        return std::nullopt;
    }
    Map map;
    for (const QJsonValue &v : list.toArray()) {
        const QJsonObject o = v.toObject();
        const QString channel = o.value(QStringLiteral("channel")).toString();
        const QString start = o.value(QStringLiteral("start")).toString();
        if (channel.isEmpty() || start.isEmpty())
            continue;
        HandDecision d;
        d.record = o.value(QStringLiteral("record")).toBool();
        d.extStart = o.value(QStringLiteral("extStart")).toInt();
        d.extStop = o.value(QStringLiteral("extStop")).toInt();
        d.title = o.value(QStringLiteral("title")).toString();
        map.insert(key(channel, start), d);
    }
    return map;
}

HandDecisions::Read HandDecisions::load(QString *problem)
{
    const bool existed = exists();
    QString why;
    std::optional<Map> read = readFile(&why);
    if (!read) {
        // Kept for the user to look at; the marks it held are still in the day files,
        // from which the next reload adopts them.
        const QString aside = path_ + QStringLiteral(".damaged");
        QFile::remove(aside);
        QFile::rename(path_, aside);
        if (problem)
            *problem = QStringLiteral("%1 could not be read (%2); set aside as %3.")
                           .arg(QFileInfo(path_).fileName(), why, QFileInfo(aside).fileName());
        stored_.clear();
        rebuild();
        return Read::SetAside;
    }
    stored_ = std::move(*read);
    rebuild();
    return existed ? Read::Read : Read::Missing;
}

void HandDecisions::rebuild()
{
    current_ = stored_;
    for (auto it = changes_.cbegin(); it != changes_.cend(); ++it) {
        if (it.value())
            current_.insert(it.key(), *it.value());
        else
            current_.remove(it.key());
    }
}

std::optional<HandDecision> HandDecisions::find(
    const QString &channel, const QString &rawStart) const
{
    const auto it = current_.constFind(key(channel, rawStart));
    if (it == current_.constEnd())
        return std::nullopt;
    return *it;
}

void HandDecisions::set(
    const QString &channel, const QString &rawStart, std::optional<HandDecision> decision)
{
    const QString k = key(channel, rawStart);
    const auto now = current_.constFind(k);
    const bool same = decision ? (now != current_.constEnd() && now->sameAs(*decision))
                               : now == current_.constEnd();
    if (same)
        return;
    changes_.insert(k, decision);
    if (decision)
        current_.insert(k, *decision);
    else
        current_.remove(k);
}

bool HandDecisions::save(const QDate &today, QString *error)
{
    QString why;
    std::optional<Map> onDisk = readFile(&why);
    // A file that cannot be read now is not overwritten with less than it may hold.
    if (!onDisk) {
        if (error)
            *error = QStringLiteral("cannot read %1: %2").arg(path_, why);
        return false;
    }
    stored_ = std::move(*onDisk);
    rebuild();

    const QString oldest = today.addDays(-2).toString(QStringLiteral("yyyy-MM-dd"));
    QStringList keys;
    for (auto it = current_.cbegin(); it != current_.cend(); ++it)
        if (it.key().section(QLatin1Char('\t'), 1).left(10) >= oldest)
            keys << it.key();
    // By start, then channel: a file a person can read and diff.
    std::sort(keys.begin(), keys.end(), [](const QString &a, const QString &b) {
        const QString sa = a.section(QLatin1Char('\t'), 1), sb = b.section(QLatin1Char('\t'), 1);
        return sa != sb ? sa < sb : a < b;
    });
    QJsonArray list;
    Map kept;
    for (const QString &k : keys) {
        const HandDecision &d = current_[k];
        QJsonObject o;
        o.insert(QStringLiteral("channel"), k.section(QLatin1Char('\t'), 0, 0));
        o.insert(QStringLiteral("start"), k.section(QLatin1Char('\t'), 1));
        o.insert(QStringLiteral("record"), d.record);
        if (d.record) {
            o.insert(QStringLiteral("extStart"), d.extStart);
            o.insert(QStringLiteral("extStop"), d.extStop);
        }
        o.insert(QStringLiteral("title"), d.title);
        list.append(o);
        kept.insert(k, d);
    }
    if (!writeJsonList(path_, QStringLiteral("decisions"), list, error))
        return false;
    stored_ = std::move(kept);
    changes_.clear();
    touched_ = false;
    rebuild();
    return true;
}
