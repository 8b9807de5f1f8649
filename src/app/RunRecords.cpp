#include "app/RunRecords.h"

#include "base/Paths.h"
#include "base/WholeFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>

namespace RunRecords
{

QString path(Job job)
{
    const QString folder = Paths::applicationSupportFolder() + QLatin1Char('/');
    switch (job) {
    case Job::Fetch:
        return folder + QStringLiteral("LastFetch.json");
    case Job::Upload:
        return folder + QStringLiteral("LastUpload.json");
    case Job::Unattended:
        break;
    }
    return folder + QStringLiteral("LastUnattendedRun.json");
}

QString causeLine(const QString &text)
{
    for (const QString &line : text.split(QLatin1Char('\n'))) {
        QString shown;
        for (const QChar c : line)
            shown += c.category() == QChar::Other_Control ? QLatin1Char(' ') : c;
        shown = shown.simplified();
        if (!shown.isEmpty())
            return shown;
    }
    return {};
}

QByteArray toJson(const RunOutcome &o)
{
    QJsonObject object;
    // With its offset, so that the record means the same instant in any zone.
    object.insert(QStringLiteral("time"),
        o.time.toOffsetFromUtc(o.time.offsetFromUtc()).toString(Qt::ISODate));
    object.insert(QStringLiteral("ok"), o.ok);
    object.insert(QStringLiteral("cause"), causeLine(o.cause));
    object.insert(QStringLiteral("by"), o.by);
    object.insert(QStringLiteral("attempt"), o.attempt);
    return QJsonDocument(object).toJson();
}

std::optional<RunOutcome> fromJson(const QByteArray &json, QString *why)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    const QJsonObject o = document.object();
    RunOutcome outcome;
    outcome.time = QDateTime::fromString(o.value(QStringLiteral("time")).toString(), Qt::ISODate);
    if (!document.isObject() || !outcome.time.isValid()
        || !o.value(QStringLiteral("ok")).isBool()) {
        if (why)
            *why = error.error != QJsonParseError::NoError ? error.errorString()
                                                           : QStringLiteral("no time or outcome");
        return std::nullopt;
    }
    outcome.ok = o.value(QStringLiteral("ok")).toBool();
    outcome.cause = causeLine(o.value(QStringLiteral("cause")).toString());
    outcome.by = o.value(QStringLiteral("by")).toString();
    outcome.attempt = std::max(1, o.value(QStringLiteral("attempt")).toInt(1));
    return outcome;
}

bool write(Job job, const RunOutcome &outcome, QString *why)
{
    QDir().mkpath(Paths::applicationSupportFolder());
    return writeWholeFile(path(job), toJson(outcome), why);
}

std::optional<RunOutcome> read(Job job, QString *why)
{
    QFile file(path(job));
    if (!QFileInfo::exists(file.fileName()))
        return std::nullopt;
    // A record is a few hundred bytes; anything much larger is not one.
    constexpr qint64 kLargest = 64 * 1024;
    if (!file.open(QIODevice::ReadOnly) || file.size() > kLargest) {
        if (why)
            *why = file.fileName() + QStringLiteral(": ")
                + (file.isOpen() ? QStringLiteral("too large for a run record")
                                 : file.errorString());
        return std::nullopt;
    }
    QString wrong;
    std::optional<RunOutcome> outcome = fromJson(file.readAll(), &wrong);
    if (!outcome && why)
        *why = file.fileName() + QStringLiteral(": not a run record (") + wrong + QLatin1Char(')');
    return outcome;
}

} // namespace RunRecords
