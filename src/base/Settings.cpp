#include "base/Settings.h"

#include "base/WholeFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTimeZone>
#include <atomic>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Settings {
namespace {

std::atomic<bool> defaultsRegistered{false};

QSettings store()
{
    return QSettings(QStringLiteral("Pallaro"), QStringLiteral("Pallaro"));
}

// The store holds the FTP password, so it is the owner's alone, and a link standing in its
// place is replaced by a file of its content instead of being written through.
void guardStoreFile(const QString &file)
{
    const QByteArray name = QFile::encodeName(file);
    struct stat st {
    };
    if (::lstat(name.constData(), &st) != 0) {
        QDir().mkpath(QFileInfo(file).path());
        const int fd
            = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0)
            ::close(fd);
        return;
    }
    if (S_ISLNK(st.st_mode)) {
        QFile target(file);
        constexpr qint64 kMaxStore = 16 * 1024 * 1024;
        const QByteArray content
            = target.open(QIODevice::ReadOnly) ? target.read(kMaxStore) : QByteArray();
        writeWholeFile(file, content, nullptr, 0600);
        return;
    }
    if (S_ISREG(st.st_mode) && (st.st_mode & 077))
        ::chmod(name.constData(), st.st_mode & 0700);
}

QVariant convert(Type type, const QVariant &raw)
{
    switch (type) {
    case Type::String:
        return raw.toString();
    case Type::Boolean: {
        if (raw.typeId() == QMetaType::Bool)
            return raw.toBool();
        const QString t = raw.toString().trimmed().toLower();
        return t == QLatin1String("true") || t == QLatin1String("yes") || t.toInt() != 0;
    }
    case Type::Integer:
        return raw.toString().trimmed().toInt();
    case Type::StringList:
        // A one-element list comes back from the INI store as a plain string.
        return raw.toStringList();
    case Type::Date:
        return raw.toDateTime();
    }
    return raw;
}

} // namespace

const std::vector<Definition> &table()
{
    static const std::vector<Definition> t = {
        {"location", Type::String, QStringLiteral("Sydney"), "region whose guide is fetched"},
        {"connectionMethod", Type::String, QStringLiteral("USB"),
         "\"USB\" uploads over USB; any other value uploads by FTP"},
        {"provider", Type::String, QString(""),
         "\"UK\" script-based fetch; \"Korrin2\" second archive path; else the default path"},
        {"providerHost", Type::String, QStringLiteral("guide.pallaro.invalid"),
         "host name of the guide provider's web server, with an optional :port"},
        {"FTP URL", Type::String, QString(""), "URL of the FTP folder that receives the TGD files"},
        {"useOldStyleNames", Type::Boolean, false, "keep the raw XMLTV channel identifiers"},
        {"generateGrid", Type::Boolean, false, "make HTML grid previews after a fetch"},
        {"keywordPadStart", Type::Integer, 0, "start padding of a new keyword rule (minutes)"},
        {"keywordPadEnd", Type::Integer, 0, "end padding of a new keyword rule (minutes)"},
        {"uploadFolder", Type::StringList, QStringList{QStringLiteral("ProgramFiles")},
         "folder on the recorder, as path components"},
        {"CFPreferencesWritesXML", Type::Boolean, true, "kept for compatibility of the store"},
        {"autoRun", Type::Boolean, false, "the scheduled daily run is installed"},
        {"autoRunTime", Type::Date,
         QDateTime(QDate(2001, 1, 1), QTime(0, 0), QTimeZone::utc()),
         "time of day of the scheduled run (local hour and minute)"},
        {"daysToLoad", Type::String, QVariant(), "days the script-based converter makes"},
        {"PublishTimeout", Type::Integer, QVariant(), "FTP time-out in seconds (above 10)"},
    };
    return t;
}

const Definition *definition(const QString &key)
{
    for (const Definition &d : table())
        if (d.key == key)
            return &d;
    return nullptr;
}

void registerDefaults()
{
    defaultsRegistered = true;
}

QVariant value(const QString &key)
{
    const Definition *def = definition(key);
    QSettings s = store();
    if (s.contains(key)) {
        const QVariant raw = s.value(key);
        return def ? convert(def->type, raw) : raw;
    }
    if (def && defaultsRegistered)
        return def->defaultValue;
    return {};
}

QString string(const QString &key)
{
    return value(key).toString();
}

bool boolean(const QString &key)
{
    return value(key).toBool();
}

int integer(const QString &key)
{
    return value(key).toInt();
}

QStringList stringList(const QString &key)
{
    return value(key).toStringList();
}

QDateTime date(const QString &key)
{
    return value(key).toDateTime();
}

void setValue(const QString &key, const QVariant &v)
{
    QSettings s = store();
    guardStoreFile(s.fileName());
    s.setValue(key, v);
}

void synchronize()
{
    QSettings s = store();
    guardStoreFile(s.fileName());
    s.sync();
}

std::optional<QVariant> parseText(const QString &key, const QString &text)
{
    const Definition *def = definition(key);
    if (!def)
        return std::nullopt;
    switch (def->type) {
    case Type::String:
        return QVariant(text);
    case Type::Boolean: {
        const QString t = text.trimmed().toLower();
        if (t == "yes" || t == "true" || t == "1" || t == "on")
            return QVariant(true);
        if (t == "no" || t == "false" || t == "0" || t == "off")
            return QVariant(false);
        return std::nullopt;
    }
    case Type::Integer: {
        bool ok = false;
        const int n = text.trimmed().toInt(&ok);
        return ok ? std::optional<QVariant>(n) : std::nullopt;
    }
    case Type::StringList: {
        QStringList parts;
        for (const QString &p : text.split(QLatin1Char(','), Qt::SkipEmptyParts))
            parts << p.trimmed();
        return QVariant(parts);
    }
    case Type::Date: {
        const QTime t = QTime::fromString(text.trimmed(), QStringLiteral("HH:mm"));
        if (!t.isValid())
            return std::nullopt;
        // Only the local hour and minute count; the reference day keeps the value stable.
        return QVariant(QDateTime(QDate(2001, 1, 1), t));
    }
    }
    return std::nullopt;
}

QString formatText(const QString &key, const QVariant &v)
{
    const Definition *def = definition(key);
    if (!v.isValid())
        return {};
    switch (def ? def->type : Type::String) {
    case Type::Boolean:
        return v.toBool() ? QStringLiteral("YES") : QStringLiteral("NO");
    case Type::StringList:
        return v.toStringList().join(QLatin1Char(','));
    case Type::Date:
        return v.toDateTime().toLocalTime().toString(QStringLiteral("HH:mm"));
    default:
        return v.toString();
    }
}

bool usesScriptFetch()
{
    return string(QStringLiteral("provider")) == QLatin1String("UK");
}

const QStringList &regions()
{
    static const QStringList r = {
        "Sydney", "Melbourne", "Brisbane", "Adelaide", "Perth", "Hobart", "Darwin", "Canberra",
        "Central Coast", "Newcastle", "Wollongong", "Gold Coast", "Sunshine Coast",
        "Northern NSW (North)", "Northern NSW (South)", "Southern NSW", "Central West NSW",
        "Griffith", "Broken Hill", "Albury/Wodonga", "Mildura/Sunraysia", "Western VIC",
        "Eastern VIC", "Ballarat", "Bendigo", "Shepparton", "Cairns", "Townsville", "Mackay",
        "Rockhampton", "Toowoomba", "Wide Bay", "Tasmania", "Riverland", "Spencer Gulf",
        "South East SA", "Regional WA", "Remote Central",
    };
    return r;
}

} // namespace Settings
