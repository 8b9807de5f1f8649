#include "device/DataHandler.h"

#include <QCoreApplication>
#include <QFile>
#include <QTimeZone>
#include <cmath>
#include <sys/stat.h>

namespace
{
constexpr qint64 kMjdEpochSecs = -3506716800LL; // 17 November 1858 00:00 GMT
constexpr qint64 kReferenceSecs = 978307200LL; // 1 January 2001 00:00 GMT
constexpr int kReferenceMjd = 51910;

int readU8(const QByteArray &b, int i)
{
    return static_cast<std::uint8_t>(b.at(i));
}

std::int32_t readBE32(const QByteArray &b, int i)
{
    const std::uint32_t v = (std::uint32_t(readU8(b, i)) << 24)
        | (std::uint32_t(readU8(b, i + 1)) << 16) | (std::uint32_t(readU8(b, i + 2)) << 8)
        | std::uint32_t(readU8(b, i + 3));
    return static_cast<std::int32_t>(v);
}

void appendBE32(QByteArray &b, std::int32_t value)
{
    const auto v = static_cast<std::uint32_t>(value);
    b.append(static_cast<char>(v >> 24));
    b.append(static_cast<char>((v >> 16) & 0xFF));
    b.append(static_cast<char>((v >> 8) & 0xFF));
    b.append(static_cast<char>(v & 0xFF));
}

bool isControlOrFormat(char16_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0xAD;
}

QString localised(const char *text)
{
    return QCoreApplication::translate("DataHandler", text);
}
} // namespace

QVariant TFFile::value(const QString &key) const
{
    if (key == QLatin1String("rawMJD"))
        return rawMJD;
    if (key == QLatin1String("hour"))
        return hour;
    if (key == QLatin1String("min"))
        return min;
    if (key == QLatin1String("sec"))
        return sec;
    if (key == QLatin1String("type"))
        return type;
    if (key == QLatin1String("sizeMSB"))
        return sizeMSB;
    if (key == QLatin1String("sizeLSB"))
        return sizeLSB;
    if (key == QLatin1String("name"))
        return name ? QVariant(*name) : QVariant();
    if (key == QLatin1String("date")) {
        if (type == 1 && sortdate)
            return QString(QLatin1String(""));
        return date ? QVariant(*date) : QVariant();
    }
    if (key == QLatin1String("sortdate"))
        return sortdate ? QVariant(*sortdate) : QVariant();
    if (key == QLatin1String("fileSize"))
        return fileSize ? QVariant(*fileSize) : QVariant();
    if (key == QLatin1String("size"))
        return size ? QVariant(*size) : QVariant();
    return {};
}

std::optional<TFFile> DataHandler::getTFFileFromSwappedHexData(const QByteArray &entry)
{
    if (entry.size() < 14 + kNameSize)
        return std::nullopt;
    TFFile f;
    f.rawMJD = (readU8(entry, 0) << 8) | readU8(entry, 1);
    f.hour = static_cast<std::int8_t>(entry.at(2));
    f.min = static_cast<std::int8_t>(entry.at(3));
    f.sec = static_cast<std::int8_t>(entry.at(4));
    f.type = static_cast<std::int8_t>(entry.at(5));
    f.sizeMSB = readBE32(entry, 6);
    f.sizeLSB = readBE32(entry, 10);
    QString name;
    for (int i = 14; i < 14 + kNameSize; ++i) {
        const char16_t c = static_cast<char16_t>(readU8(entry, i));
        if (isControlOrFormat(c))
            break;
        name.append(QChar(c));
    }
    f.name = name;
    return f;
}

QDateTime DataHandler::distantPast()
{
    return QDateTime(QDate(1, 1, 1), QTime(0, 0), Qt::UTC);
}

void DataHandler::convertRawDataToUseful(TFFile &f)
{
    if (f.type == 1) {
        f.date = QDateTime();
        f.sortdate = distantPast();
    } else {
        const qint64 seconds = ((qint64(f.rawMJD - kReferenceMjd) * 24 + f.hour) * 60 + f.min) * 60;
        QDateTime t = QDateTime::fromSecsSinceEpoch(kReferenceSecs + seconds, Qt::UTC);
        // The recorder's clock is wall-clock time: shift so that local time reads the same.
        const int offset = QTimeZone::systemTimeZone().offsetFromUtc(t);
        t = t.addSecs(-offset).toLocalTime();
        f.date = t;
        f.sortdate = t;
    }
    double low = f.sizeLSB;
    double high = f.sizeMSB;
    if (low < 0)
        low += 4294967296.0;
    if (high < 0)
        high += 4294967296.0;
    const double total = high * 4294967296.0 + low;
    f.fileSize = total;
    f.size = sizeText(total);
}

QString DataHandler::sizeText(double size)
{
    if (size == 0)
        return localised(" - ");
    if (size > 0 && size < 1024)
        return QString::asprintf(localised("%.0f B").toUtf8().constData(), size);
    if (size >= 1024 && size < 1048576)
        return QString::asprintf(localised("%.1f KB").toUtf8().constData(), size / 1024);
    if (size >= 1048576 && size < 1073741824)
        return QString::asprintf(localised("%.2f MB").toUtf8().constData(), size / 1048576);
    if (size >= 1073741824 && size < 1099511627776.0)
        return QString::asprintf(localised("%.2f GB").toUtf8().constData(), size / 1073741824);
    if (size >= 1099511627776.0)
        return QString::asprintf(localised("%.4f TB").toUtf8().constData(), size / 1099511627776.0);
    return localised(" ? ");
}

TFFile DataHandler::extractAttributes(const LocalFileAttributes &a)
{
    TFFile f;
    const QDateTime local = a.modified.toLocalTime();
    f.hour = local.time().hour();
    f.min = local.time().minute();
    f.sec = local.time().second();
    const qint64 secs = a.modified.toSecsSinceEpoch() - kMjdEpochSecs;
    f.rawMJD = static_cast<int>(secs >= 0 ? secs / 86400 : -((-secs + 86399) / 86400));
    f.type = a.directory ? 1 : 2;
    f.sizeMSB = static_cast<std::int32_t>(static_cast<std::uint32_t>(a.size >> 32));
    f.sizeLSB = static_cast<std::int32_t>(static_cast<std::uint32_t>(a.size & 0xFFFFFFFFu));
    return f;
}

std::optional<LocalFileAttributes> DataHandler::attributesOfFile(const QString &path)
{
    struct stat st {
    };
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return std::nullopt;
    LocalFileAttributes a;
    a.modified = QDateTime::fromSecsSinceEpoch(st.st_mtim.tv_sec, Qt::UTC);
    a.directory = S_ISDIR(st.st_mode);
    a.size = static_cast<std::uint64_t>(st.st_size);
    return a;
}

QByteArray DataHandler::getDataFromTFFile(const TFFile &f, const QString &name)
{
    QByteArray b;
    b.reserve(kEntrySize);
    b.append(static_cast<char>((f.rawMJD >> 8) & 0xFF));
    b.append(static_cast<char>(f.rawMJD & 0xFF));
    b.append(static_cast<char>(f.hour & 0xFF));
    b.append(static_cast<char>(f.min & 0xFF));
    b.append(static_cast<char>(f.sec & 0xFF));
    b.append(static_cast<char>(f.type & 0xFF));
    appendBE32(b, f.sizeMSB);
    appendBE32(b, f.sizeLSB);
    QByteArray latin;
    for (QChar c : name) {
        if (c.unicode() > 0xFF) {
            latin.clear(); // not writable in ISO Latin 1: the name field stays zero
            break;
        }
        latin.append(static_cast<char>(c.unicode()));
    }
    latin = latin.left(kNameSize);
    b.append(latin);
    b.append(kNameSize - latin.size(), '\0');
    b.append(5, '\0');
    return b;
}

QVariant DataHandler::objectValue(const QString &columnIdentifier, int row) const
{
    if (row < 0 || row >= numberOfRows())
        return {};
    return fileList_[static_cast<std::size_t>(row)].value(columnIdentifier);
}
