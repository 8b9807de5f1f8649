// Times the keyword reload cycle on a very large synthetic guide: about 200 channels over
// 14 days (some 90,000 programmes) with 50 rules.
#include "app/EPGController.h"
#include "base/Paths.h"
#include "base/Settings.h"
#include "base/StatusLog.h"
#include "guide/TGDFile.h"
#include "guide/TGDFormat.h"
#include "ui/KeywordController.h"
#include "ui/KeywordFile.h"
#include "ui/SourceListController.h"
#include "ui/TGDPickerController.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <random>
#include <sys/resource.h>

namespace
{

const char *kTitles[] = { "News", "Lost", "Doctor Who", "The Bill", "Neighbours", "Home and Away",
    "Catalyst", "Four Corners", "Rage", "Mythbusters", "Insight", "The Simpsons", "Law & Order",
    "CSI: Crime Scene Investigation", "A Current Affair", "Getaway", "Gardening Australia",
    "Play School", "Café Society", "Bondi Rescue", "Border Security", "The Footy Show",
    "Spicks and Specks", "Media Watch", "Stateline", "Movie: The Castle", "Grand Designs",
    "Antiques Roadshow", "Top Gear", "QI", "Midsomer Murders", "Better Homes and Gardens",
    "Landline", "Australian Story", "Hungry Beast", "Sunrise", "Today", "The Morning Show",
    "Dateline", "Foreign Correspondent", "Heartbeat", "The Weakest Link", "Deal or No Deal",
    "Wheel of Fortune", "Bananas in Pyjamas", "Postman Pat", "Thomas the Tank Engine",
    "Message Stick", "Compass", "Songs of Praise" };
const char *kCats[] = { "News", "Drama", "Documentary", "Comedy", "Sport", "Music", "Film",
    "Children", "Lifestyle", "Current Affairs", "Reality", "Travel" };
const char *kSubs[] = { "", "The Empty Child", "Exodus", "Summer Bay", "Grave danger",
    "Paris in spring", "Ramsay Street", "Sun Hill blues", "Part 2" };

long peakRssKb()
{
    rusage u {};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

// Writes the guide as the import writer would (LF lines); answers the programme count.
int generate(const QString &folder, const QDate &first, int days, int channels)
{
    std::mt19937 rng(42);
    int total = 0;
    QStringList channelKeys;
    const QStringList named = { "2", "3", "33", "1,10", "5", "7", "9", "21", "6,61", "8", "11" };
    for (int c = 0; c < channels; ++c)
        channelKeys << (c < named.size() ? named[c] : QStringLiteral("%1,%2").arg(c).arg(c + 100));
    for (int d = 0; d < days; ++d) {
        const QDate day = first.addDays(d);
        QByteArray file;
        for (const QString &channel : channelKeys) {
            int minute = 6 * 60;
            while (minute < 24 * 60) {
                const int dur = (std::uniform_int_distribution<int>(1, 3)(rng)) * 15;
                // Mostly a long tail of local titles; the well-known ones now and then.
                const unsigned pick = rng() % 40;
                const QString title = pick == 0
                    ? QString::fromUtf8(kTitles[rng() % std::size(kTitles)])
                    : QStringLiteral("%1 %2").arg(
                        QString::fromUtf8(kSubs[1 + rng() % (std::size(kSubs) - 1)]),
                        QString::number(rng() % 3000));
                const QString sub = QString::fromUtf8(kSubs[rng() % std::size(kSubs)]) + " ["
                    + kCats[rng() % std::size(kCats)] + "]";
                const QString start = day.toString("yyyy-MM-dd ")
                    + QStringLiteral("%1:%2")
                          .arg(minute / 60, 2, 10, QChar('0'))
                          .arg(minute % 60, 2, 10, QChar('0'));
                file += tgd::encodeLine(
                    { channel, start, QString::number(dur), title, sub,
                        QStringLiteral(
                            "An episode of %1 with guests, news and views from around the country.")
                            .arg(title),
                        (rng() % 2) ? "PG" : "M", "N" },
                    false);
                minute += dur;
                ++total;
            }
        }
        QFile f(folder + "/" + day.toString("yyyyMMdd") + ".tgd");
        f.open(QIODevice::WriteOnly);
        f.write(file);
    }
    return total;
}

double ms(QElapsedTimer &t)
{
    return t.nsecsElapsed() / 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_DATA_HOME", (home.path() + "/data").toUtf8());
    qputenv("XDG_CONFIG_HOME", (home.path() + "/config").toUtf8());
    Settings::registerDefaults();
    const QString output = Paths::outputFolder();
    QDir().mkpath(output);
    const QDate today = QDate::currentDate();

    QElapsedTimer t;
    t.start();
    const int programmes = generate(output, today, 14, 180);
    std::printf("generated %d programmes in 14 day files (%.0f ms)\n", programmes, ms(t));

    // Read-back alone: every day file through the reader with the derivation.
    t.restart();
    {
        TGDFile reader;
        bool first = true;
        for (const QString &name : QDir(output).entryList({ "*.tgd" }, QDir::Files, QDir::Name)) {
            QFile f(output + "/" + name);
            f.open(QIODevice::ReadOnly);
            reader.loadTGDData(f.readAll(), name.left(8), !first);
            first = false;
        }
        std::printf("read back all day files with derivation: %.1f ms (%zu programmes)\n", ms(t),
            reader.getFileData().size());
    }

    StatusLog log;
    EPGController epg(&log);
    SourceListController slc;
    TGDPickerController table;
    epg.setSourceList(&slc);
    epg.loadExistingTGDs(today);
    KeywordController kwc(&slc, &table);

    const QStringList terms = { "Lost", "Doctor Who", "Rage", "Catalyst", "Four Corners", "cafe",
        "Midsomer", "QI", "Top Gear", "Grand Designs", "Australian Story", "Compass", "Landline",
        "Heartbeat", "Dateline", "Insight", "Mythbusters", "Getaway", "Antiques", "Media Watch" };
    KeywordRules rules;
    for (int i = 0; i < 50; ++i) {
        auto r = createBlankSeq();
        r->keywords = QStringList { terms[i % terms.size()] };
        if (i % 3 == 1)
            r->keywords << (i % 2 ? ">19:30" : "<21:00");
        if (i % 4 == 2)
            r->keywords << kCats[i % std::size(kCats)];
        if (i % 5 == 0)
            r->negatives = QStringList { "", "Part 2" };
        r->autoRecord = i % 2 == 0;
        r->padStart = 2;
        r->padEnd = 5;
        rules.push_back(r);
    }
    kwc.setSeqs(rules);

    t.restart();
    const bool ok1 = kwc.runReloadCycle(QString());
    const double first = ms(t);
    QCoreApplication::processEvents();
    t.restart();
    const bool ok2 = kwc.runReloadCycle(QString());
    const double second = ms(t);
    QCoreApplication::processEvents();
    int matches = 0;
    for (const KeywordRulePtr &r : kwc.giveSeqs())
        matches += r->numberMatches;
    std::printf("reload cycle, first (read, sort, 50 rules, write back): %.1f ms %s\n", first,
        ok1 ? "" : "FAILED");
    std::printf("reload cycle, again (write back, read, sort, 50 rules, write back): %.1f ms %s\n",
        second, ok2 ? "" : "FAILED");
    std::printf("matches over all rules: %d\n", matches);

    t.restart();
    kwc.sortData();
    std::printf("sort alone: %.1f ms\n", ms(t));
    t.restart();
    kwc.writeOutData();
    std::printf("write every day back alone: %.1f ms\n", ms(t));

    // One rule's match run, as an edit in the rule table asks for it. The rule file is
    // stored by the writer once edits settle, not on the asking thread.
    kwc.setKeywordFileDelay(60000);
    // The first run after the sort above folds every programme's text again.
    double worst = 0, sum = 0, firstRun = 0;
    for (int i = 0; i < 50; ++i) {
        t.restart();
        kwc.updateMatches(i);
        const double m = ms(t);
        if (i == 0)
            firstRun = m;
        else
            worst = std::max(worst, m);
        sum += m;
        QCoreApplication::processEvents();
    }
    std::printf("one rule's match run (the edit): mean %.1f ms, first %.1f ms, worst of the rest "
                "%.1f ms\n",
        sum / 50, firstRun, worst);
    t.restart();
    kwc.flushWrites();
    std::printf("storing the rule file it asked for (writer): %.1f ms\n", ms(t));
    // The same run followed at once by storing the whole rule file, as before the writer.
    worst = 0;
    sum = 0;
    for (int i = 0; i < 50; ++i) {
        t.restart();
        kwc.updateMatches(i);
        kwc.flushWrites();
        const double m = ms(t);
        worst = std::max(worst, m);
        sum += m;
        QCoreApplication::processEvents();
    }
    std::printf("one rule's match run plus storing the rule file: mean %.1f ms, worst %.1f ms\n",
        sum / 50, worst);
    t.restart();
    KeywordFile::write(kwc.keywordFilePath(), kwc.giveSeqs());
    std::printf("storing the rule file alone: %.1f ms\n", ms(t));
    std::printf("rule file size: %lld bytes\n", QFile(kwc.keywordFilePath()).size());
    std::printf("peak RSS: %.1f MB\n", peakRssKb() / 1024.0);
    return ok1 && ok2 ? 0 : 1;
}
