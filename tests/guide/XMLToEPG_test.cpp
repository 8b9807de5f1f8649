#include "base/Paths.h"
#include "base/Settings.h"
#include "guide/XMLToEPG.h"
#include "guide/XMLTree.h"
#include "support/TempHome.h"

#include <QDir>
#include <QTemporaryDir>
#include <ctime>
#include <gtest/gtest.h>

namespace
{

void setZone(const char *zone)
{
    qputenv("TZ", zone);
    tzset();
}

QString guidePath(const char *name)
{
    return QStringLiteral(PALLARO_TEST_DATA "/guide/xmltv/") + QLatin1String(name);
}

XMLTVProgrammeList importText(
    const QByteArray &xml, QString *error = nullptr, bool *found = nullptr)
{
    QTemporaryDir dir;
    const QString path = dir.path() + "/guide.xml";
    writeFile(path, xml);
    return XMLToEPG().importXML(path, error, found);
}

XMLTVProgramme programme(
    const char *channel, const char *start, const char *stop, const char *title = "t")
{
    XMLTVProgramme p;
    p.title = QString::fromUtf8(title);
    p.subtitle = QStringLiteral(" []"); // as import builds it without sub-title or category
    p.rawChannel = QString::fromLatin1(channel);
    p.rawStart = QString::fromLatin1(start);
    p.rawStop = QString::fromLatin1(stop);
    return p;
}

QString wallClock(const std::optional<QDateTime> &d)
{
    return d ? d->toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : QStringLiteral("none");
}

class XMLToEPGTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Settings::registerDefaults();
        setZone("Australia/Sydney");
    }
    void TearDown() override { setZone("UTC"); }
    TempHome home;
};

} // namespace

TEST_F(XMLToEPGTest, ImportReadsEachProgrammeByTheDescendantSearch)
{
    const XMLTVProgrammeList list = importText(
        "<?xml version=\"1.0\"?>\n<!DOCTYPE tv SYSTEM \"xmltv.dtd\">\n<tv>\n"
        "<channel id=\"WIN\"><display-name>WIN</display-name></channel>\n"
        "<programme start=\"20070312063000 +1100\" stop=\"20070312070000 +1100\" channel=\"WIN\">"
        "<title>News &amp; Weather</title><sub-title>Pilot</sub-title>"
        "<category>Movie</category><category>Comedy</category>"
        "<desc><![CDATA[Line one\nline <two>]]></desc>"
        "<rating system=\"CTVA\"><value>M</value></rating></programme>\n"
        "<programme start=\"20070312070000 +1100\" channel=\"NBN\"><category>Drama</category>"
        "</programme>\n"
        "<show channel=\"X\"><title>any name is read</title></show>\n"
        "<programme stop=\"20070312070000 +1100\" channel=\"A\"/>\n"
        "<programme start=\"20070312070000 +1100\" stop=\"20070312080000 +1100\"/>\n"
        "</tv>\n");
    ASSERT_EQ(list.size(), 5u);
    const XMLTVProgramme &p = list[0];
    EXPECT_EQ(p.title, QStringLiteral("News & Weather"));
    EXPECT_EQ(p.subTitle, QStringLiteral("Pilot"));
    EXPECT_EQ(p.category, QStringLiteral("Comedy"));
    EXPECT_EQ(p.subtitle, QStringLiteral("Pilot [Comedy]"));
    EXPECT_EQ(p.description, QStringLiteral("Line one\nline <two>"));
    EXPECT_EQ(p.rating, QStringLiteral("M"));
    EXPECT_EQ(p.record, QStringLiteral("N"));
    EXPECT_EQ(p.value(QStringLiteral("rawChannel")), QStringLiteral("WIN"));
    EXPECT_EQ(p.value(QStringLiteral("rawStart")), QStringLiteral("20070312063000 +1100"));
    EXPECT_EQ(p.value(QStringLiteral("sub-title")), QStringLiteral("Pilot"));

    EXPECT_EQ(list[1].subtitle, QStringLiteral(" [Drama]"));
    EXPECT_FALSE(list[1].rawStop);
    EXPECT_EQ(list[1].title, QString());
    EXPECT_EQ(list[2].title, QStringLiteral("any name is read"));
    EXPECT_EQ(list[2].subtitle, QStringLiteral(" []"));
    // Without "start" the stop is not kept; without "channel" no raw time is kept.
    EXPECT_EQ(list[3].rawChannel, QStringLiteral("A"));
    EXPECT_FALSE(list[3].rawStart);
    EXPECT_FALSE(list[3].rawStop);
    EXPECT_FALSE(list[4].rawChannel);
    EXPECT_FALSE(list[4].rawStart);
    EXPECT_FALSE(list[4].value(QStringLiteral("rawStop")).isValid());
}

TEST_F(XMLToEPGTest, BrokenDocumentsGiveAnEmptyListAndOneLogLine)
{
    SystemLogCapture log;
    QString error;
    bool found = true;
    EXPECT_TRUE(importText("<tv><programme><title>x</programme></tv>", &error, &found).empty());
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(found);
    EXPECT_EQ(log.lines(), QStringList { QStringLiteral("tree is null") });
    // Found late in the stream: what was read before is dropped too.
    error.clear();
    QByteArray longDoc = "<tv>";
    for (int i = 0; i < 100; ++i)
        longDoc += "<programme channel=\"A\" start=\"20070312063000 +1100\"/>";
    EXPECT_TRUE(importText(longDoc + "<oops></tv>", &error).empty());
    EXPECT_FALSE(error.isEmpty());
    EXPECT_TRUE(XMLToEPG().importXML(QStringLiteral("/nonexistent.xml"), &error).empty());
}

TEST_F(XMLToEPGTest, DocumentsWithoutAGuideRootFollowTheTreeRules)
{
    bool found = false;
    // The guide nested below another root: the last outermost "tv" wins.
    XMLTVProgrammeList list = importText("<wrap><tv><programme><title>a</title></programme></tv>"
                                         "<tv><programme><title>b</title></programme>"
                                         "<programme><title>c</title></programme></tv></wrap>",
        nullptr, &found);
    EXPECT_TRUE(found);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].title, QStringLiteral("b"));
    // A comment named "tv" after the root is the later match, and has no children.
    list = importText("<tv><programme><title>a</title></programme></tv><!--tv-->", nullptr, &found);
    EXPECT_TRUE(found);
    EXPECT_TRUE(list.empty());
    list = importText("<guide><programme/></guide>", nullptr, &found);
    EXPECT_FALSE(found);
    EXPECT_TRUE(list.empty());
}

// The streaming import must give exactly what the whole-document tree gives.
class StreamingMatchesTree : public ::testing::TestWithParam<const char *>
{
};

TEST_P(StreamingMatchesTree, OnRealFiles)
{
    const QString path = guidePath(GetParam());
    const std::optional<XMLTree> tree = XMLTree::treeWithURL(path);
    ASSERT_TRUE(tree);
    bool treeFound = false, streamFound = false;
    const XMLTVProgrammeList fromTree = XMLToEPG().importTree(*tree, &treeFound);
    QString error;
    const XMLTVProgrammeList streamed = XMLToEPG().importXML(path, &error, &streamFound);
    EXPECT_TRUE(error.isEmpty()) << error.toStdString();
    EXPECT_EQ(treeFound, streamFound);
    ASSERT_EQ(fromTree.size(), streamed.size());
    for (size_t i = 0; i < streamed.size(); ++i)
        for (const QString &key : XMLTVProgramme::keys())
            EXPECT_EQ(fromTree[i].value(key), streamed[i].value(key))
                << GetParam() << " #" << i << " " << key.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Guides, StreamingMatchesTree,
    ::testing::Values("amp.xml", "test.xml", "test_livre.xml", "empty.xml", "sort.xml",
        "overlap.xml", "dups.xml", "Movie21-accents.xml", "Title-with-accent.xml",
        "Title-and-amp.xml", "tv_augment_automatic_type_5-2.xml", "comments.xml", "example.xml",
        "invalid.xml", "max.no_2021-03-28.xml", "natgeo.no_2022-08-27.xml",
        "nickelodeon.no_2021-12-20.xml"));

TEST_F(XMLToEPGTest, RealFilesKeepTheirText)
{
    const XMLTVProgrammeList natgeo = XMLToEPG().importXML(guidePath("natgeo.no_2022-08-27.xml"));
    ASSERT_EQ(natgeo.size(), 24u);
    bool nonAscii = false;
    for (const XMLTVProgramme &p : natgeo) {
        EXPECT_FALSE(p.title.isEmpty());
        EXPECT_TRUE(p.rawStart->endsWith(QStringLiteral("+0200")));
        for (QChar c : p.title + p.description)
            nonAscii = nonAscii || c.unicode() > 127;
    }
    EXPECT_TRUE(nonAscii) << "the Norwegian letters arrive decoded";
    const XMLTVProgrammeList latin = XMLToEPG().importXML(guidePath("test_livre.xml"));
    ASSERT_EQ(latin.size(), 1u);
    EXPECT_TRUE(latin[0].title.contains(QChar(0xA3))) << latin[0].title.toStdString();
    const XMLTVProgrammeList comments = XMLToEPG().importXML(guidePath("comments.xml"));
    ASSERT_EQ(comments.size(), 1u);
    EXPECT_EQ(comments[0].title, QStringLiteral("Breaking Bad"));
}

TEST_F(XMLToEPGTest, StringToDateReadsBothFormatsAndGivesUtcTheOffsetOfItsInstant)
{
    struct Case {
        const char *text;
        const char *wallClock; // "none": no date
        int offsetHours;
    };
    // Sydney leaves daylight saving at 03:00 on 2 April 2023 (+1100 to +1000).
    const Case cases[] = {
        { "20070312063000 +1100", "2007-03-12 06:30:00", 11 },
        { "200703120630 +1100", "2007-03-12 06:30:00", 11 },
        { "20070312063000 -0930", "2007-03-12 06:30:00", 0 },
        { "20230331080000 +0000", "2023-03-31 19:00:00", 11 },
        { "20230405080000 +0000", "2023-04-05 18:00:00", 10 },
        { "20230401153000 +0000", "2023-04-02 02:30:00", 11 },
        { "20230401163000 +0000", "2023-04-02 02:30:00", 10 },
        { "20230405080000", "2023-04-05 18:00:00", 10 }, // XMLTV: no offset is UTC
        { "20230405080000 +1000", "2023-04-05 08:00:00", 10 },
        // Long enough to try, but not a time: no message.
        { "20070312063000 BST", "none", 0 }, { "20071312063000 +1100", "none", 0 },
        { "20070230063000 +1100", "none", 0 }, { "20070312063000+1100", "none", 0 },
        { "2007031206300 +1100", "none", 0 }, { "20070312246000 +1100", "none", 0 },
        { "20070312063000 +1100 x", "none", 0 }, { "abcdefghijklmnop", "none", 0 },
        { "20070312063000 +1500", "none", 0 }, { "20070312063000 +10x0", "none", 0 },
    };
    SystemLogCapture log;
    for (const Case &c : cases) {
        const std::optional<QDateTime> d = XMLToEPG::stringToDate(QString::fromLatin1(c.text));
        EXPECT_EQ(wallClock(d), QString::fromLatin1(c.wallClock)) << c.text;
        if (d && c.offsetHours) {
            EXPECT_EQ(d->offsetFromUtc(), c.offsetHours * 3600) << c.text;
        }
    }
    EXPECT_TRUE(log.lines().isEmpty());
    for (const std::optional<QString> &shortText :
        { std::optional<QString>("20070312"), std::optional<QString>(), std::optional<QString>("12345678901") })
        EXPECT_FALSE(XMLToEPG::stringToDate(shortText));
    EXPECT_EQ(log.lines(), QStringList(3, QStringLiteral("dateString not long enough")));
    setZone("UTC");
    EXPECT_EQ(wallClock(XMLToEPG::stringToDate(QStringLiteral("20230405080000 +0000"))),
        QStringLiteral("2023-04-05 08:00:00"));
}

TEST_F(XMLToEPGTest, FixDataDerivesDatesDurationsAndChannels)
{
    XMLTVProgrammeList list = {
        programme("SBS", "20070312233000 +1100", "20070313001500 +1100", "late"),
        programme("WIN", "20070312063000 +1100", "20070312070030 +1100", "early"),
        programme("ABC2", "20070312063000 +1100", "", "no stop"),
        programme("Ten", "bad", "20070312070000 +1100", "no start"),
        // Spans the end of daylight saving: 02:30 +1100 to 02:30 +1000 is one real hour.
        programme("7", "20230401153000 +0000", "20230401163000 +0000", "clock change"),
    };
    list[2].rawStop.reset();
    XMLToEPG().fixData(list);
    ASSERT_EQ(list.size(), 5u);
    EXPECT_EQ(list[0].title, QStringLiteral("early"));
    EXPECT_EQ(list[1].title, QStringLiteral("no stop")) << "equal starts keep their order";
    EXPECT_EQ(list[2].title, QStringLiteral("late"));
    EXPECT_EQ(list[3].title, QStringLiteral("clock change"));
    EXPECT_EQ(list[4].title, QStringLiteral("no start")) << "undated programmes go last";
    EXPECT_EQ(list[0].duration, 30);
    EXPECT_EQ(list[1].duration, 0);
    EXPECT_EQ(list[2].duration, 45);
    EXPECT_EQ(list[3].duration, 60);
    EXPECT_EQ(list[4].duration, 0);
    EXPECT_FALSE(list[4].startDate);
    EXPECT_TRUE(list[4].stopDate);
    EXPECT_EQ(list[0].chanName, QStringLiteral("8"));
    EXPECT_EQ(list[0].displayChan, QStringLiteral("NBN/WIN"));
    EXPECT_EQ(list[1].value(QStringLiteral("chanName")), QStringLiteral("21"));
    EXPECT_EQ(list[2].value(QStringLiteral("displayChan")), QStringLiteral("SBS"));
    EXPECT_EQ(list[0].value(QStringLiteral("duration")), 30);

    // Old-style names keep the provider's identifiers.
    Settings::setValue(QStringLiteral("useOldStyleNames"), true);
    XMLToEPG().fixData(list);
    EXPECT_EQ(list[0].chanName, QStringLiteral("WIN"));
    EXPECT_EQ(list[0].displayChan, QStringLiteral("WIN"));
}

struct RegionCase {
    const char *location;
    std::vector<const char *> kept;
};

class RegionalFilter : public XMLToEPGTest, public ::testing::WithParamInterface<RegionCase>
{
};

TEST_P(RegionalFilter, DropsTheOtherHalfOfTheRegion)
{
    Settings::setValue(QStringLiteral("location"), QString::fromLatin1(GetParam().location));
    XMLTVProgrammeList list;
    for (const char *c : { "WIN", "10Cap", "NBN", "PrimS", "10Nth", "PrimN", "SBS" })
        list.push_back(programme(c, "20070312063000 +1100", "20070312070000 +1100", c));
    XMLToEPG().fixData(list);
    QStringList kept;
    for (const XMLTVProgramme &p : list)
        kept << p.title;
    QStringList expected;
    for (const char *c : GetParam().kept)
        expected << QString::fromLatin1(c);
    EXPECT_EQ(kept, expected);
}

INSTANTIATE_TEST_SUITE_P(Regions, RegionalFilter,
    ::testing::Values(RegionCase { "Northern NSW (North)", { "NBN", "10Nth", "PrimN", "SBS" } },
        RegionCase { "Northern NSW (South)", { "WIN", "10Cap", "PrimS", "SBS" } },
        RegionCase { "Sydney", { "WIN", "10Cap", "NBN", "PrimS", "10Nth", "PrimN", "SBS" } }));

struct ChannelCase {
    const char *identifier;
    const char *name;
    const char *key;
};

class ChannelMapping : public ::testing::TestWithParam<ChannelCase>
{
};

TEST_P(ChannelMapping, FollowsTheOrderedRules)
{
    const auto [name, key] = XMLToEPG::fixChannel(QString::fromLatin1(GetParam().identifier));
    EXPECT_EQ(name, QString::fromLatin1(GetParam().name)) << GetParam().identifier;
    EXPECT_EQ(key, QString::fromLatin1(GetParam().key)) << GetParam().identifier;
}

// One row per rule and per exception within it, in rule order.
INSTANTIATE_TEST_SUITE_P(Identifiers, ChannelMapping,
    ::testing::Values(ChannelCase { "Nine7", "Nine", "9" }, ChannelCase { "WIN", "NBN/WIN", "8" },
        ChannelCase { "NBN", "NBN/WIN", "8" }, ChannelCase { "Seven", "Seven", "7" },
        ChannelCase { "PrimS", "Prime", "6,61" }, ChannelCase { "SC10", "Southern Cross", "6,61" },
        ChannelCase { "Southern5", "Southern Cross", "6,61" }, ChannelCase { "sCtEn10", "TEN", "1,10" }, ChannelCase { "TDT", "TDT", "11" },
        ChannelCase { "10Cap", "TEN", "1,10" }, ChannelCase { "10Nth", "SC10", "5" },
        ChannelCase { "ten5", "SC10", "5" }, ChannelCase { "ABC", "ABC", "2" },
        ChannelCase { "ABC2", "ABC2", "21" }, ChannelCase { "SBS", "SBS", "3" },
        ChannelCase { "SBS News", "SBS News", "33" },
        ChannelCase { "SBSD", "SBS News", "33" }, ChannelCase { "SBS digital", "SBS News", "33" },
        ChannelCase { "31", "Channel 31", "Channel 31" },
        ChannelCase { "digital", "digital", "digital" }, ChannelCase { "", "", "" }));

class ExportTest : public XMLToEPGTest
{
protected:
    XMLTVProgrammeList fixed(XMLTVProgrammeList list)
    {
        XMLToEPG().fixData(list);
        return list;
    }
    QStringList files() const { return QDir(out.path()).entryList(QDir::Files, QDir::Name); }
    QTemporaryDir out;
};

TEST_F(ExportTest, TgdFilesHoldOneLinePerProgrammePerStartDay)
{
    XMLTVProgrammeList raw = {
        programme("ABC", "20070312235900 +1100", "20070313003000 +1100", "Late\tShow"),
        programme("ABC", "20070313000000 +1100", "20070313010000 +1100", "Midnight"),
        programme("SBS", "20070312180000 +1100", "20070312183000 +1100", "News"),
    };
    raw[2].description = QStringLiteral("Line one\nline two\r\nend");
    raw[2].subtitle = QStringLiteral("Evening \u65e5 [News]");
    raw[2].rating = QStringLiteral("PG");
    XMLTVProgrammeList list = fixed(raw);
    list.push_back(programme("ABC", "x", "y", "undated"));
    writeFile(out.path() + "/20070312.tgd", "old content that must go\n");
    writeFile(out.path() + "/20070101.tgd", "other day\n");
    SystemLogCapture log;
    const ExportResult r = XMLToEPG().exportTGD(list, out.path());
    EXPECT_EQ(r.files, 2);
    EXPECT_EQ(r.programmes, 3);
    EXPECT_EQ(r.skipped, 1);
    EXPECT_TRUE(r.error.isEmpty());
    EXPECT_EQ(files(), (QStringList { "20070101.tgd", "20070312.tgd", "20070313.tgd" }));
    EXPECT_EQ(readFile(out.path() + "/20070101.tgd"), QByteArray("other day\n"));
    EXPECT_EQ(readFile(out.path() + "/20070312.tgd"),
        QByteArray("3\t2007-03-12 18:00\t30\tNews\tEvening ? [News]\tLine one line two  "
                   "end\tPG\tN\n"
                   "2\t2007-03-12 23:59\t31\tLate Show\t []\t\t\tN\n"));
    EXPECT_EQ(readFile(out.path() + "/20070313.tgd"),
        QByteArray("2\t2007-03-13 00:00\t60\tMidnight\t []\t\t\tN\n"));
    EXPECT_TRUE(log.lines().contains(
        QStringLiteral("programme without a start time not written: undated")));
}

TEST_F(ExportTest, TgdWallClockTimesSurviveTheDaylightSavingChange)
{
    // A week of UTC times across the April change lands on the right local days and hours.
    XMLTVProgrammeList list = fixed({
        programme("ABC", "20230401083000 +0000", "20230401093000 +0000", "Sat"),
        programme("ABC", "20230402083000 +0000", "20230402093000 +0000", "Sun"),
        programme("ABC", "20230401133000 +0000", "20230401143000 +0000", "Sat late"),
    });
    XMLToEPG().exportTGD(list, out.path());
    EXPECT_EQ(readFile(out.path() + "/20230401.tgd"),
        QByteArray("2\t2023-04-01 19:30\t60\tSat\t []\t\t\tN\n"));
    EXPECT_EQ(readFile(out.path() + "/20230402.tgd"),
        QByteArray("2\t2023-04-02 00:30\t60\tSat late\t []\t\t\tN\n"
                   "2\t2023-04-02 18:30\t60\tSun\t []\t\t\tN\n"));
}

TEST_F(ExportTest, TgdLatin1TextIsWrittenAsSingleBytes)
{
    XMLTVProgrammeList list = fixed({ programme(
        "ABC", "20070312063000 +1100", "20070312070000 +1100", "Caf\xc3\xa9 \xc2\xa3") });
    XMLToEPG().exportTGD(list, out.path());
    EXPECT_EQ(readFile(out.path() + "/20070312.tgd"),
        QByteArray("2\t2007-03-12 06:30\t30\tCaf\xe9 \xa3\t []\t\t\tN\n"));
}

TEST_F(ExportTest, DayXmlFilesCarryTheWholeChannelListAndEscapedText)
{
    XMLTVProgrammeList list = fixed({
        programme("ABC", "20070312180000 +1100", "20070312183000 +1100", "Q&A <live> \"x\""),
        programme("SBS \"1\"", "20070313180000 +1100", "20070313183000 +1100",
            "Caf\xc3\xa9 \xf0\x9f\x93\xba"),
    });
    list[0].subTitle = QStringLiteral("Part 1");
    list[0].description = QStringLiteral("]]> ok");
    list[0].category = QStringLiteral("News");
    list[0].rating = QStringLiteral("PG");
    const ExportResult r = XMLToEPG().exportXML(list, out.path());
    EXPECT_EQ(r.files, 2);
    EXPECT_EQ(files(), (QStringList { "20070312.xml", "20070313.xml" }));
    const QByteArray header = readFile(Paths::resourcesFolder() + "header.xml");
    ASSERT_FALSE(header.isEmpty());
    const QByteArray channels
        = "<channel id=\"ABC\">\n<display-name lang=\"en\">ABC</display-name>\n"
          "</channel>\n<channel id=\"SBS &quot;1&quot;\">\n<display-name "
          "lang=\"en\">SBS \"1\"</display-name>\n</channel>\n";
    EXPECT_EQ(readFile(out.path() + "/20070312.xml"),
        header + channels
            + "<programme start=\"20070312180000 +1100\" stop=\"20070312183000 +1100\" "
              "channel=\"ABC\">\n<title lang=\"en\">Q&amp;A &lt;live&gt; \"x\"</title>\n"
              "<sub-title lang=\"en\">Part 1</sub-title>\n<desc lang=\"en\">]]&gt; "
              "ok</desc>\n<category lang=\"en\">News</category>\n<rating "
              "system=\"CTVA\">\n<value>PG</value>\n</rating>\n</programme>\n</tv>\n");
    const QByteArray second = readFile(out.path() + "/20070313.xml");
    EXPECT_TRUE(second.startsWith(header + channels));
    EXPECT_TRUE(second.contains("<title lang=\"en\">Caf&#233; &#128250;</title>\n"
                                "<sub-title lang=\"en\"></sub-title>\n<desc lang=\"en\"></desc>\n"
                                "<category lang=\"en\"></category>\n"));
    for (char c : second)
        EXPECT_GE(c, 0) << "7-bit ASCII only";
    // The day files read back to the same programmes.
    const XMLTVProgrammeList back = XMLToEPG().importXML(out.path() + "/20070313.xml");
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0].title, list[1].title);
    EXPECT_EQ(back[0].rawChannel, list[1].rawChannel);
}

TEST_F(ExportTest, NoProgrammesWriteNoFiles)
{
    EXPECT_EQ(XMLToEPG().exportXML({}, out.path()).files, 0);
    EXPECT_EQ(XMLToEPG().exportTGD({}, out.path()).files, 0);
    EXPECT_TRUE(files().isEmpty());
}

TEST_F(ExportTest, UnwritableFolderIsReported)
{
    XMLTVProgrammeList list
        = fixed({ programme("ABC", "20070312063000 +1100", "20070312070000 +1100") });
    const ExportResult r = XMLToEPG().exportTGD(list, out.path() + "/missing/folder");
    EXPECT_EQ(r.files, 0);
    EXPECT_FALSE(r.error.isEmpty());
}
