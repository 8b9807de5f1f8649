#include "guide/TGDFile.h"

#include "base/Settings.h"
#include "guide/TGDFormat.h"

#include <QDate>
#include <QHash>
#include <QTime>

namespace
{

const QHash<QString, QString> &displayNames()
{
    static const QHash<QString, QString> names = {
        { "2", "ABC" },
        { "3", "SBS" },
        { "33", "SBS News" },
        { "1,10", "TEN" },
        { "5", "SC10" },
        { "7", "Seven" },
        { "9", "Nine" },
        { "21", "ABC2" },
        { "6,61", "Prime/Southern Cross" },
        { "8", "NBN/WIN" },
        { "11", "TDT" },
    };
    return names;
}

int digitsAt(QStringView s, qsizetype from, qsizetype count)
{
    int v = 0;
    for (qsizetype i = from; i < from + count; ++i) {
        const char16_t c = s[i].unicode();
        if (c < u'0' || c > u'9')
            return -1;
        v = v * 10 + (c - u'0');
    }
    return v;
}

struct StartFields {
    QDate date;
    QTime time;
};

// The date and time of a "%Y-%m-%d %H:%M" text; nothing unless the whole text has that form.
std::optional<StartFields> startFields(QStringView s)
{
    if (s.size() != 16 || s[4] != u'-' || s[7] != u'-' || s[10] != u' ' || s[13] != u':')
        return std::nullopt;
    const int y = digitsAt(s, 0, 4), mo = digitsAt(s, 5, 2), d = digitsAt(s, 8, 2);
    const int h = digitsAt(s, 11, 2), mi = digitsAt(s, 14, 2);
    const QDate date(y, mo, d);
    const QTime time(h, mi);
    if (y < 0 || mo < 0 || d < 0 || h < 0 || mi < 0 || !date.isValid() || !time.isValid())
        return std::nullopt;
    return StartFields { date, time };
}

// The start in local time; invalid unless the text parses.
QDateTime parseRawStart(QStringView s)
{
    const std::optional<StartFields> f = startFields(s);
    return f ? QDateTime(f->date, f->time) : QDateTime();
}

QString trimmedOf(QString s, QChar c)
{
    qsizetype b = 0, e = s.size();
    while (b < e && s.at(b) == c)
        ++b;
    while (e > b && s.at(e - 1) == c)
        --e;
    return s.mid(b, e - b);
}

} // namespace

TGDEntryList TGDFile::parse(const QByteArray &bytes, const QString &day)
{
    TGDEntryList out;
    const QString text = QString::fromLatin1(bytes);
    const QStringView all(text);
    qsizetype from = 0;
    while (from <= all.size()) {
        qsizetype lf = all.indexOf(u'\n', from);
        if (lf < 0)
            lf = all.size();
        QStringView line = all.mid(from, lf - from);
        from = lf + 1;
        while (!line.isEmpty() && line.front() == u'\r')
            line = line.mid(1);
        while (!line.isEmpty() && line.back() == u'\r')
            line.chop(1);
        QStringView fields[tgd::kFieldCount];
        int n = 0;
        qsizetype f = 0;
        while (n < tgd::kFieldCount) {
            const qsizetype tab = line.indexOf(u'\t', f);
            fields[n++] = line.mid(f, (tab < 0 ? line.size() : tab) - f);
            if (tab < 0)
                break;
            f = tab + 1;
        }
        if (n < tgd::kFieldCount)
            continue; // seven fields or fewer
        // Without a start the line names no programme (a damaged line, a run of TABs):
        // taking it would put a made-up programme into the file at write-back. A guide
        // without a title element gives a programme with an empty title, which stays.
        if (!startFields(fields[1]))
            continue;
        auto e = std::make_shared<TGDEntry>();
        e->channel = fields[0].toString();
        e->rawStart = fields[1].toString();
        e->duration = tgd::leadingInt(fields[2].toString());
        e->title = fields[3].toString();
        e->subAndCat = fields[4].toString();
        e->description = fields[5].toString();
        e->rating = fields[6].toString();
        e->recordStatus = fields[7].toString();
        e->fileNameDataIsFrom = day;
        out.push_back(std::move(e));
    }
    return out;
}

QString TGDFile::displayName(const QString &channelKey)
{
    return displayNames().value(channelKey, channelKey);
}

void TGDFile::applyChannel(TGDEntry &e, bool ukProvider)
{
    const auto it = displayNames().constFind(e.channel);
    if (it != displayNames().constEnd()) {
        e.dispChannel = *it;
        e.dispChannelColour = TGDEntry::Colour::Green;
    } else {
        e.dispChannel = e.channel;
        e.dispChannelColour = ukProvider ? TGDEntry::Colour::Green : TGDEntry::Colour::Red;
    }
    // A kept programme whose name changed (another channel map) is searched by the new one.
    const bool renamed = !e.searchText.isEmpty() && e.dispChannelString != e.dispChannel;
    e.dispChannelString = e.dispChannel;
    if (renamed)
        e.refreshSearchText();
}

void TGDFile::applyRecordStatus(TGDEntry &e)
{
    const tgd::RecordField r = tgd::decodeRecordField(e.recordStatus);
    e.record = r.record;
    if (r.extStart)
        e.extStart = r.extStart;
    if (r.extStop)
        e.extStop = r.extStop;
}

void TGDFile::fixEntry(TGDEntry &e, bool ukProvider)
{
    StartCache cache;
    fixEntry(e, ukProvider, cache);
}

void TGDFile::fixEntry(TGDEntry &e, bool ukProvider, StartCache &cache)
{
    applyChannel(e, ukProvider);

    // Local-time conversion is the costly part, and a day's programmes share few starts.
    auto hit = cache.constFind(e.rawStart);
    if (hit == cache.constEnd())
        hit = cache.insert(e.rawStart, parseRawStart(e.rawStart));
    e.start = *hit;
    if (e.start.isValid()) {
        // The text's own hour and minute, unless local time moved them (a clock change).
        e.startTime
            = e.start.time() == QTime(e.rawStart.mid(11, 2).toInt(), e.rawStart.mid(14, 2).toInt())
            ? e.rawStart.mid(11, 5)
            : e.start.toString(QStringLiteral("HH:mm"));
        e.stop = e.start.addSecs(qint64(e.duration) * 60);
    } else {
        e.startTime.clear();
        e.stop = QDateTime();
    }

    const QStringList pieces = e.subAndCat.split(QLatin1Char('['));
    e.sub = pieces.at(0);
    if (pieces.size() == 1) {
        e.cat = QString();
    } else if (pieces.size() == 2) {
        const QString &second = pieces.at(1);
        if (second.startsWith(QLatin1String("Film]")))
            e.cat = QString(second).replace(QLatin1Char(']'), QStringLiteral(" - "));
        else
            e.cat = trimmedOf(second, QLatin1Char(']'));
    } else {
        e.cat = trimmedOf(trimmedOf(pieces.at(1), QLatin1Char(' ')), QLatin1Char(']'))
            + QLatin1Char(' ') + trimmedOf(pieces.at(2), QLatin1Char(']'));
    }

    applyRecordStatus(e);
    e.refreshSearchText();
}

void TGDFile::fixData()
{
    const bool uk = Settings::usesScriptFetch();
    StartCache cache;
    for (const TGDEntryPtr &e : fileData_)
        fixEntry(*e, uk, cache);
}

int TGDFile::loadTGDData(const QByteArray &bytes, const QString &day, bool retainOld)
{
    TGDEntryList fresh = parse(bytes, day);
    if (!retainOld)
        fileData_.clear();
    const bool uk = Settings::usesScriptFetch();
    // Kept programmes were derived by an earlier call and their stored fields are
    // unchanged; only what others may have changed since is re-derived: the record state
    // (reset from "recordStatus") and the channel's display name and colour.
    for (const TGDEntryPtr &e : fileData_) {
        applyChannel(*e, uk);
        applyRecordStatus(*e);
    }
    StartCache cache;
    for (const TGDEntryPtr &e : fresh)
        fixEntry(*e, uk, cache);
    const int count = int(fresh.size());
    fileData_.insert(fileData_.end(), std::make_move_iterator(fresh.begin()),
        std::make_move_iterator(fresh.end()));
    return count;
}

QByteArray TGDFile::dataToTGD(const TGDEntryList &entries)
{
    QByteArray out;
    QStringList fields;
    for (const TGDEntryPtr &e : entries) {
        fields = { e->channel, e->rawStart, QString::number(e->duration), e->title, e->subAndCat,
            e->description, e->rating,
            e->record ? tgd::formatRecordStringForListing(e->extStart, e->extStop)
                      : QStringLiteral("N") };
        out += tgd::encodeLine(fields, true);
    }
    return out;
}

QByteArray TGDFile::dataToTGDForDate(const std::optional<QString> &day) const
{
    if (!day)
        return dataToTGD(fileData_);
    TGDEntryList taken;
    for (const TGDEntryPtr &e : fileData_)
        if (e->fileNameDataIsFrom == *day)
            taken.push_back(e);
    return dataToTGD(taken);
}
