// Times the programme table on a very large synthetic guide (200 channels over 14 days,
// some 90,000 programmes): a two-word search as typed, the first one right after the load
// included, and a header click on "title", "start" and "dispChannel".
#include "base/Settings.h"
#include "guide/TGDFile.h"
#include "guide/TGDFormat.h"
#include "ui/TGDPickerController.h"

#include <QCoreApplication>
#include <QDate>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <random>
#include <vector>

namespace
{

const char *const kNames[]
    = { "Midsomer", "Garden", "Rescue", "Kitchen", "Planet", "Island", "Detective", "Frontier",
          "Harbour", "Outback", "Voyage", "Festival", "Highway", "Legend", "Café", "Rugby",
          "Cricket", "Weather", "Science", "Market", "Château", "Reef", "Desert", "Mountain" };
const char *const kKinds[]
    = { "News", "Drama", "Documentary", "Comedy", "Sport", "Movie", "Lifestyle", "Children" };
const char *const kRatings[] = { "G", "PG", "M", "MA15+" };

// One day's file for every channel: programmes back to back from midnight.
QByteArray dayFile(const QDate &day, int channels, std::mt19937 &rng)
{
    auto pick
        = [&rng](const auto &list) { return QString::fromUtf8(list[rng() % std::size(list)]); };
    QByteArray bytes;
    for (int c = 0; c < channels; ++c) {
        const QString channel = QStringLiteral("%1,%2").arg(c + 1).arg(c + 200);
        for (int minute = 0; minute < 24 * 60;) {
            const int length = 15 * int(1 + rng() % 5);
            // Some thousands of distinct titles: series repeat, one in three numbers its part.
            QString title = pick(kNames) + QLatin1Char(' ') + pick(kNames);
            if (rng() % 3 == 0)
                title += QStringLiteral(" %1").arg(1 + rng() % 50);
            const QString start = day.toString(QStringLiteral("yyyy-MM-dd "))
                + QStringLiteral("%1:%2")
                      .arg(minute / 60, 2, 10, QChar('0'))
                      .arg(minute % 60, 2, 10, QChar('0'));
            const QString description = QStringLiteral("A look at the %1 of the %2, with %3.")
                                            .arg(pick(kNames), pick(kNames), pick(kNames));
            bytes += tgd::encodeLine({ channel, start, QString::number(length), title,
                                         pick(kNames) + QStringLiteral(" [") + pick(kKinds) + ']',
                                         description, pick(kRatings), QStringLiteral("N") },
                true);
            minute += length;
        }
    }
    return bytes;
}

struct Figures {
    double median;
    double worst;
};

Figures summary(std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    return { ms[ms.size() / 2], ms.back() };
}

double timed(const std::function<void()> &work)
{
    QElapsedTimer t;
    t.start();
    work();
    return double(t.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (home.path() + "/config").toUtf8());
    Settings::registerDefaults();

    constexpr int channels = 200, days = 14, runs = 41;
    std::mt19937 rng(7);
    std::vector<QByteArray> files;
    const QDate first = QDate::currentDate();
    for (int d = 0; d < days; ++d)
        files.push_back(dayFile(first.addDays(d), channels, rng));

    // Read as the reload reads: one reader, every day appended, derivation included.
    TGDFile reader;
    const double load = timed([&] {
        for (int d = 0; d < days; ++d)
            reader.loadTGDData(
                files[size_t(d)], first.addDays(d).toString(QStringLiteral("yyyyMMdd")), d > 0);
    });
    std::printf("%zu programmes read in %.0f ms (%d channels, %d days)\n",
        reader.getFileData().size(), load, channels, days);

    // Setting the working list prepares it for searching and sorting, once.
    TGDPickerController table;
    const double set = timed([&] { table.setFileList(reader.getFileData()); });
    std::printf("working list set in %.0f ms\n", set);

    // A two-word search as the user types it: the first right after the load, then others.
    const QStringList searches = { "cafe sport", "harbour news", "reef pg", "legend drama",
        "chateau ma15", "kitchen island", "weather 12", "desert g" };
    const double firstSearch = timed([&] { table.search(searches.first()); });
    std::vector<double> searchMs;
    for (int i = 0; i < runs; ++i)
        searchMs.push_back(timed([&] { table.search(searches[i % searches.size()]); }));
    const Figures s = summary(searchMs);
    std::printf("two-word search: first %.1f ms; median %.1f ms, worst %.1f ms over %d "
                "(%zu found by the last)\n",
        firstSearch, s.median, s.worst, runs, table.shownList().size());
    table.search(QString());

    // Clicks on one column flip its order: every click sorts the whole working list.
    for (const char *column : { "title", "start", "dispChannel" }) {
        std::vector<double> ms;
        for (int i = 0; i < runs; ++i)
            ms.push_back(timed([&] { table.didClickTableColumn(QString::fromLatin1(column)); }));
        const Figures f = summary(ms);
        std::printf("sort by %-11s median %.1f ms, worst %.1f ms over %d (%zu rows)\n", column,
            f.median, f.worst, runs, table.getFileData().size());
    }
    // After the clicks the rows no longer lie in memory order; the search does not mind.
    std::vector<double> again;
    for (int i = 0; i < runs; ++i)
        again.push_back(timed([&] { table.search(searches[i % searches.size()]); }));
    const Figures a = summary(again);
    std::printf("two-word search after sorting: median %.1f ms, worst %.1f ms over %d\n", a.median,
        a.worst, runs);
    return 0;
}
