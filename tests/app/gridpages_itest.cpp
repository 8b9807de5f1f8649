// The grid page generator on real guides: every programme of a day file is on that day's
// page, at the local start the programme table shows, and the page covers the whole day.
#include "guide/TGDFile.h"
#include "guide/XMLToEPG.h"
#include "support/SydneyTime.h"
#include "support/TempHome.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <cmath>
#include <gtest/gtest.h>

namespace
{

const QString kGenerator = QStringLiteral(PALLARO_BINARY_DIR "/share/pallaro/xmltv2html.rb");
// The generator's default scale: 80 pixels for 30 minutes.
constexpr double kPixelsPerMinute = 80.0 / 30.0;

QString unescaped(QString text)
{
    text.replace("&lt;", "<").replace("&gt;", ">").replace("&quot;", "\"").replace("&#39;", "'");
    return text.replace("&amp;", "&");
}

struct Page {
    qint64 laneWidth = 0;
    // "channel|HH:MM|title" → the programme's left edge in pixels.
    QHash<QString, int> programmes;
};

Page readPage(const QString &html)
{
    Page page;
    static const QRegularExpression lane(QStringLiteral("\\.lane \\{ width: (\\d+)px; \\}"));
    page.laneWidth = lane.match(html).captured(1).toLongLong();
    static const QRegularExpression row(
        QStringLiteral("<div class=\"row\"><div class=\"chan\">([^<]*)</div>(.*)"));
    static const QRegularExpression prog(
        QStringLiteral("<div class=\"prog\" style=\"left: (-?\\d+)px; width: \\d+px\" "
                       "data-start=\"(\\d\\d:\\d\\d)\"[^>]*>"
                       "<div class=\"inner\"><span class=\"title\">([^<]*)</span>"));
    for (const QString &line : html.split('\n')) {
        const QRegularExpressionMatch r = row.match(line);
        if (!r.hasMatch())
            continue;
        const QString channel = unescaped(r.captured(1));
        for (auto it = prog.globalMatch(r.captured(2)); it.hasNext();) {
            const QRegularExpressionMatch p = it.next();
            page.programmes.insert(channel + "|" + p.captured(2) + "|" + unescaped(p.captured(3)),
                p.captured(1).toInt());
        }
    }
    return page;
}

struct GuideCase {
    const char *name;
    const char *file; // under tests/data/guide/xmltv
    const char *zone;
    int days; // day files the guide makes
};

class GridPages : public ::testing::TestWithParam<GuideCase>
{
};

TEST_P(GridPages, EveryProgrammeOfTheDayAtItsLocalStart)
{
    const GuideCase &c = GetParam();
    TempHome home;
    const LocalZone zone(c.zone);
    XMLToEPG epg;
    XMLTVProgrammeList list
        = epg.importXML(QStringLiteral(PALLARO_TEST_DATA "/guide/xmltv/") + c.file);
    epg.fixData(list);
    ASSERT_FALSE(list.empty());
    QTemporaryDir folder;
    ASSERT_TRUE(epg.exportXML(list, folder.path()).error.isEmpty());
    const QStringList days = QDir(folder.path()).entryList({ "*.xml" }, QDir::Files, QDir::Name);
    EXPECT_EQ(days.size(), c.days);

    int checked = 0;
    for (const QString &day : days) {
        SCOPED_TRACE(day.toStdString());
        QProcess generator;
        generator.setWorkingDirectory(folder.path());
        generator.setStandardInputFile(folder.path() + "/" + day);
        generator.start("/usr/bin/ruby", { kGenerator });
        ASSERT_TRUE(generator.waitForFinished(60000));
        ASSERT_EQ(generator.exitCode(), 0) << generator.readAllStandardError().toStdString();
        const Page page = readPage(QString::fromUtf8(generator.readAllStandardOutput()));
        EXPECT_GE(page.laneWidth, std::lround(24 * 60 * kPixelsPerMinute));
        for (const XMLTVProgramme &p : list) {
            if (!p.startDate || p.startDate->date().toString("yyyyMMdd") + ".xml" != day)
                continue;
            const QTime t = p.startDate->time();
            const QString key
                = TGDFile::displayName(p.chanName) + "|" + t.toString("HH:mm") + "|" + p.title;
            const auto found = page.programmes.constFind(key);
            ASSERT_NE(found, page.programmes.constEnd()) << key.toStdString();
            EXPECT_EQ(*found, std::lround((t.hour() * 60 + t.minute()) * kPixelsPerMinute))
                << key.toStdString();
            ++checked;
        }
    }
    EXPECT_GT(checked, 0);
}

INSTANTIATE_TEST_SUITE_P(RealGuides, GridPages,
    ::testing::Values(
        // Stamped +0000: shown at Oslo's time, the night's programmes on the next day's page.
        GuideCase { "utc_stamps", "max.no_2021-03-28.xml", "Europe/Oslo", 2 },
        GuideCase { "summer_offset", "natgeo.no_2022-08-27.xml", "Europe/Oslo", 1 },
        GuideCase { "winter_offset", "nickelodeon.no_2021-12-20.xml", "Europe/Oslo", 1 },
        GuideCase { "utc_in_sydney", "example.xml", "Australia/Sydney", 1 }),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
