#include "guide/TGDEntry.h"

#include "guide/Folding.h"

const QStringList &TGDEntry::keys()
{
    static const QStringList k = {
        "channel", "rawStart", "duration", "title", "subAndCat", "description", "rating",
        "recordStatus", "fileNameDataIsFrom", "dispChannel", "dispChannelString", "start",
        "startTime", "stop", "sub", "cat", "record", "extStart", "extStop", "channelImage",
    };
    return k;
}

namespace {
QVariant optionalValue(const std::optional<int> &v)
{
    return v ? QVariant(*v) : QVariant();
}
std::optional<int> toOptional(const QVariant &v)
{
    return v.isValid() && !v.isNull() ? std::optional<int>(v.toInt()) : std::nullopt;
}
} // namespace

QByteArray TGDEntry::foldedSearchText() const
{
    const QLatin1Char lf('\n');
    QByteArray text = foldCaseAndDiacritics(
        title + lf + subAndCat + lf + description + lf + rating + lf + dispChannelString)
                          .toUtf8();
    // The encoder reserves three bytes a character; one copy a programme is kept for good.
    text.squeeze();
    return text;
}

QVariant TGDEntry::value(const QString &key) const
{
    if (key == QLatin1String("channel")) return channel;
    if (key == QLatin1String("rawStart")) return rawStart;
    if (key == QLatin1String("duration")) return duration;
    if (key == QLatin1String("title")) return title;
    if (key == QLatin1String("subAndCat")) return subAndCat;
    if (key == QLatin1String("description")) return description;
    if (key == QLatin1String("rating")) return rating;
    if (key == QLatin1String("recordStatus")) return recordStatus;
    if (key == QLatin1String("fileNameDataIsFrom")) return fileNameDataIsFrom;
    if (key == QLatin1String("dispChannel")) return dispChannel;
    if (key == QLatin1String("dispChannelString")) return dispChannelString;
    if (key == QLatin1String("start")) return start.isValid() ? QVariant(start) : QVariant();
    if (key == QLatin1String("startTime")) return startTime;
    if (key == QLatin1String("stop")) return stop.isValid() ? QVariant(stop) : QVariant();
    if (key == QLatin1String("sub")) return sub;
    if (key == QLatin1String("cat")) return cat;
    if (key == QLatin1String("record")) return record;
    if (key == QLatin1String("extStart")) return optionalValue(extStart);
    if (key == QLatin1String("extStop")) return optionalValue(extStop);
    if (key == QLatin1String("channelImage")) return channelImage;
    return {};
}

bool TGDEntry::setValue(const QString &key, const QVariant &v, bool refreshSearch)
{
    if (key == QLatin1String("channel")) channel = v.toString();
    else if (key == QLatin1String("rawStart")) rawStart = v.toString();
    else if (key == QLatin1String("duration")) duration = v.toInt();
    else if (key == QLatin1String("title")) title = v.toString();
    else if (key == QLatin1String("subAndCat")) subAndCat = v.toString();
    else if (key == QLatin1String("description")) description = v.toString();
    else if (key == QLatin1String("rating")) rating = v.toString();
    else if (key == QLatin1String("recordStatus")) recordStatus = v.toString();
    else if (key == QLatin1String("fileNameDataIsFrom")) fileNameDataIsFrom = v.toString();
    else if (key == QLatin1String("dispChannel")) { dispChannel = v.toString(); dispChannelColour = Colour::Plain; }
    else if (key == QLatin1String("dispChannelString")) dispChannelString = v.toString();
    else if (key == QLatin1String("start")) start = v.toDateTime();
    else if (key == QLatin1String("startTime")) startTime = v.toString();
    else if (key == QLatin1String("stop")) stop = v.toDateTime();
    else if (key == QLatin1String("sub")) sub = v.toString();
    else if (key == QLatin1String("cat")) cat = v.toString();
    else if (key == QLatin1String("record")) record = v.toBool();
    else if (key == QLatin1String("extStart")) extStart = toOptional(v);
    else if (key == QLatin1String("extStop")) extStop = toOptional(v);
    else if (key == QLatin1String("channelImage")) channelImage = v;
    else return false;
    static const QStringList searched
        = { "title", "subAndCat", "description", "rating", "dispChannelString" };
    if (refreshSearch && searched.contains(key))
        refreshSearchText();
    return true;
}
