#include "base/Paths.h"
#include "base/Settings.h"
#include "guide/XMLToEPG.h"
#include "guide/XMLTree.h"
#include "support/SydneyTime.h"
#include "support/TempHome.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace
{

QString guidePath(const char *name)
{
    return QStringLiteral(PALLARO_TEST_DATA "/guide/xmltv/") + QLatin1String(name);
}

XMLTVProgrammeList importText(
    const QByteArray &xml, QString *error = nullptr, bool *found = nullptr)
{
    QTemporaryDir dir;
    writeFile(dir.path() + "/guide.xml", xml);
    return XMLToEPG().importXML(dir.path() + "/guide.xml", error, found);
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

// The values under `keys` joined by '|', an absent one as '~'.
QString describe(
    const XMLTVProgramme &p, const QStringList &keys = XMLTVProgramme::keys().mid(0, 10))
{
    QStringList out;
    for (const QString &key : keys) {
        const QVariant v = p.value(key);
        out << (v.isValid() ? v.toString() : QStringLiteral("~"));
    }
    return out.join('|');
}

QStringList titles(const XMLTVProgrammeList &list)
{
    QStringList out;
    for (const XMLTVProgramme &p : list)
        out << p.title;
    return out;
}

class XMLToEPGTest : public ::testing::Test
{
protected:
    void SetUp() override { Settings::registerDefaults(); }
    LocalZone zone;
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
    // Without "start" the stop is not kept; without "channel" no raw time is kept.
    const QStringList expected = {
        "News & Weather|M|Comedy|Pilot [Comedy]|Pilot|Line one\nline <two>|N|WIN|"
        "20070312063000 +1100|20070312070000 +1100",
        "||Drama| [Drama]|||N|NBN|20070312070000 +1100|~",
        "any name is read||| []|||N|X|~|~",
        "||| []|||N|A|~|~",
        "||| []|||N|~|~|~",
    };
    ASSERT_EQ(list.size(), size_t(expected.size()));
    for (size_t i = 0; i < list.size(); ++i)
        EXPECT_EQ(describe(list[i]), expected[qsizetype(i)]) << i;
}

TEST_F(XMLToEPGTest, BrokenOrMissingDocumentsGiveAnEmptyListAndOneLogLine)
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
    const QByteArray programmes
        = QByteArray("<programme channel=\"A\" start=\"20070312063000 +1100\"/>").repeated(100);
    EXPECT_TRUE(importText("<tv>" + programmes + "<oops></tv>", &error).empty());
    EXPECT_FALSE(error.isEmpty());
    error.clear();
    EXPECT_TRUE(XMLToEPG().importXML(QStringLiteral("/nonexistent.xml"), &error).empty());
    EXPECT_FALSE(error.isEmpty());
}

TEST_F(XMLToEPGTest, DocumentsWithoutAGuideRootFollowTheTreeRules)
{
    const struct {
        const char *xml;
        bool found;
        QStringList titles;
    } cases[] = {
        // The guide nested below another root: the last outermost "tv" wins.
        { "<wrap><tv><programme><title>a</title></programme></tv><tv><programme><title>b"
          "</title></programme><programme><title>c</title></programme></tv></wrap>",
            true, { "b", "c" } },
        // A comment named "tv" after the root is the later match, and has no children.
        { "<tv><programme><title>a</title></programme></tv><!--tv-->", true, {} },
        { "<guide><programme/></guide>", false, {} },
    };
    for (const auto &c : cases) {
        bool found = !c.found;
        EXPECT_EQ(titles(importText(c.xml, nullptr, &found)), c.titles) << c.xml;
        EXPECT_EQ(found, c.found) << c.xml;
    }
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
        EXPECT_EQ(describe(fromTree[i], XMLTVProgramme::keys()),
            describe(streamed[i], XMLTVProgramme::keys()))
            << i;
}

INSTANTIATE_TEST_SUITE_P(Guides, StreamingMatchesTree,
    ::testing::Values("amp.xml", "test.xml", "test_livre.xml", "empty.xml", "sort.xml",
        "overlap.xml", "dups.xml", "Movie21-accents.xml", "Title-with-accent.xml",
        "Title-and-amp.xml", "tv_augment_automatic_type_5-2.xml", "comments.xml", "example.xml",
        "invalid.xml", "max.no_2021-03-28.xml", "natgeo.no_2022-08-27.xml",
        "nickelodeon.no_2021-12-20.xml"));

TEST_F(XMLToEPGTest, RealFilesArriveDecoded)
{
    const struct {
        const char *file;
        size_t count;
        QString text; // in the first programme's title and description
    } cases[] = {
        { "natgeo.no_2022-08-27.xml", 24, QString::fromUtf8("etterforskere må") },
        { "test_livre.xml", 1, QString(QChar(0xA3)) }, // ISO 8859-1
        { "comments.xml", 1, QStringLiteral("Breaking Bad") },
    };
    for (const auto &c : cases) {
        const XMLTVProgrammeList list = XMLToEPG().importXML(guidePath(c.file));
        ASSERT_EQ(list.size(), c.count) << c.file;
        EXPECT_TRUE((list[0].title + list[0].description).contains(c.text)) << c.file;
    }
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
        { "20070312063000 BST", "none", 0 },
        { "20071312063000 +1100", "none", 0 },
        { "20070230063000 +1100", "none", 0 },
        { "20070312063000+1100", "none", 0 },
        { "2007031206300 +1100", "none", 0 },
        { "20070312246000 +1100", "none", 0 },
        { "20070312063000 +1100 x", "none", 0 },
        { "abcdefghijklmnop", "none", 0 },
        { "20070312063000 +1500", "none", 0 },
        { "20070312063000 +10x0", "none", 0 },
    };
    SystemLogCapture log;
    for (const Case &c : cases) {
        const std::optional<QDateTime> d = XMLToEPG::stringToDate(QString::fromLatin1(c.text));
        EXPECT_EQ(d ? d->toString("yyyy-MM-dd HH:mm:ss") : "none", c.wallClock) << c.text;
        if (d && c.offsetHours) {
            EXPECT_EQ(d->offsetFromUtc(), c.offsetHours * 3600) << c.text;
        }
    }
    EXPECT_TRUE(log.lines().isEmpty());
    for (const std::optional<QString> &shortText : { std::optional<QString>("20070312"),
             std::optional<QString>(), std::optional<QString>("12345678901") })
        EXPECT_FALSE(XMLToEPG::stringToDate(shortText));
    EXPECT_EQ(log.lines(), QStringList(3, QStringLiteral("dateString not long enough")));
    LocalZone::set("UTC");
    EXPECT_EQ(XMLToEPG::stringToDate(QStringLiteral("20230405080000 +0000"))->time(), QTime(8, 0));
}

TEST_F(XMLToEPGTest, FixDataDerivesDatesDurationsAndChannelsAndSortsByStart)
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
    const QStringList keys = { "title", "duration", "chanName", "displayChan" };
    auto fixed = [&] {
        XMLToEPG().fixData(list);
        QStringList out;
        for (const XMLTVProgramme &p : list)
            out << describe(p, keys) + (p.startDate ? "" : " undated")
                    + (p.stopDate ? "" : " open");
        return out;
    };
    // Equal starts keep their order; undated programmes go last.
    EXPECT_EQ(fixed(),
        QStringList({ "early|30|8|NBN/WIN", "no stop|0|21|ABC2 open", "late|45|3|SBS",
            "clock change|60|7|Seven", "no start|0|1,10|TEN undated" }));
    // Old-style names keep the provider's identifiers.
    Settings::setValue(QStringLiteral("useOldStyleNames"), true);
    EXPECT_EQ(fixed().front(), "early|30|WIN|WIN");
}

TEST_F(XMLToEPGTest, RegionalFilterDropsTheOtherHalfOfTheRegion)
{
    const std::pair<const char *, QStringList> cases[] = {
        { "Northern NSW (North)", { "NBN", "10Nth", "PrimN", "SBS" } },
        { "Northern NSW (South)", { "WIN", "10Cap", "PrimS", "SBS" } },
        { "Sydney", { "WIN", "10Cap", "NBN", "PrimS", "10Nth", "PrimN", "SBS" } },
    };
    for (const auto &[location, kept] : cases) {
        Settings::setValue(QStringLiteral("location"), QString::fromLatin1(location));
        XMLTVProgrammeList list;
        for (const char *c : { "WIN", "10Cap", "NBN", "PrimS", "10Nth", "PrimN", "SBS" })
            list.push_back(programme(c, "20070312063000 +1100", "20070312070000 +1100", c));
        XMLToEPG().fixData(list);
        EXPECT_EQ(titles(list), kept) << location;
    }
}

TEST(ChannelMapping, FollowsTheOrderedRules)
{
    // One row per rule and per exception within it, in rule order.
    const char *const cases[][3] = { { "Nine7", "Nine", "9" }, { "WIN", "NBN/WIN", "8" },
        { "NBN", "NBN/WIN", "8" }, { "Seven", "Seven", "7" }, { "PrimS", "Prime", "6,61" },
        { "SC10", "Southern Cross", "6,61" }, { "Southern5", "Southern Cross", "6,61" },
        { "sCtEn10", "TEN", "1,10" }, { "TDT", "TDT", "11" }, { "10Cap", "TEN", "1,10" },
        { "10Nth", "SC10", "5" }, { "ten5", "SC10", "5" }, { "ABC", "ABC", "2" },
        { "ABC2", "ABC2", "21" }, { "SBS", "SBS", "3" }, { "SBS News", "SBS News", "33" },
        { "SBSD", "SBS News", "33" }, { "SBS digital", "SBS News", "33" },
        { "31", "Channel 31", "Channel 31" }, { "digital", "digital", "digital" }, { "", "", "" } };
    for (const auto &[identifier, name, key] : cases)
        EXPECT_EQ(XMLToEPG::fixChannel(identifier), std::make_pair(QString(name), QString(key)))
            << identifier;
}

class ExportTest : public XMLToEPGTest
{
protected:
    XMLTVProgrammeList fixed(XMLTVProgrammeList list)
    {
        XMLToEPG().fixData(list);
        return list;
    }
    QStringList files() const { return QDir(out.path()).entryList(QDir::Files, QDir::Name); }
    QByteArray day(const char *name) const { return readFile(out.path() + "/" + name); }
    QTemporaryDir out;
};

TEST_F(ExportTest, TgdFilesHoldOneLinePerProgrammePerStartDayInLatin1)
{
    XMLTVProgrammeList raw = {
        programme("ABC", "20070312235900 +1100", "20070313003000 +1100", "Late\tShow"),
        programme("ABC", "20070313000000 +1100", "20070313010000 +1100", "Caf\xc3\xa9 \xc2\xa3"),
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
    EXPECT_EQ(std::make_tuple(r.files, r.programmes, r.skipped, r.error),
        std::make_tuple(2, 3, 1, QString()));
    EXPECT_EQ(files(), (QStringList { "20070101.tgd", "20070312.tgd", "20070313.tgd" }));
    EXPECT_EQ(day("20070101.tgd"), "other day\n");
    EXPECT_EQ(day("20070312.tgd"),
        "3\t2007-03-12 18:00\t30\tNews\tEvening ? [News]\tLine one line two  end\tPG\tN\n"
        "2\t2007-03-12 23:59\t31\tLate Show\t []\t\t\tN\n");
    EXPECT_EQ(day("20070313.tgd"), "2\t2007-03-13 00:00\t60\tCaf\xe9 \xa3\t []\t\t\tN\n");
    EXPECT_TRUE(log.lines().contains("programme without a start time not written: undated"));
}

TEST_F(ExportTest, TgdWallClockTimesSurviveTheDaylightSavingChange)
{
    // UTC times across the April change land on the right local days and hours.
    XMLToEPG().exportTGD(
        fixed({
            programme("ABC", "20230401083000 +0000", "20230401093000 +0000", "Sat"),
            programme("ABC", "20230402083000 +0000", "20230402093000 +0000", "Sun"),
            programme("ABC", "20230401133000 +0000", "20230401143000 +0000", "Sat late"),
        }),
        out.path());
    EXPECT_EQ(day("20230401.tgd"), "2\t2023-04-01 19:30\t60\tSat\t []\t\t\tN\n");
    EXPECT_EQ(day("20230402.tgd"),
        "2\t2023-04-02 00:30\t60\tSat late\t []\t\t\tN\n2\t2023-04-02 18:30\t60\tSun\t "
        "[]\t\t\tN\n");
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
    EXPECT_EQ(XMLToEPG().exportXML(list, out.path()).files, 2);
    EXPECT_EQ(files(), (QStringList { "20070312.xml", "20070313.xml" }));
    const QByteArray header = readFile(Paths::resourcesFolder() + "header.xml");
    ASSERT_FALSE(header.isEmpty());
    const QByteArray channels
        = "<channel id=\"ABC\">\n<display-name lang=\"en\">ABC</display-name>\n"
          "</channel>\n<channel id=\"SBS &quot;1&quot;\">\n<display-name "
          "lang=\"en\">SBS \"1\"</display-name>\n</channel>\n";
    EXPECT_EQ(day("20070312.xml"),
        header + channels
            + "<programme start=\"20070312180000 +1100\" stop=\"20070312183000 +1100\" "
              "channel=\"ABC\">\n<title lang=\"en\">Q&amp;A &lt;live&gt; \"x\"</title>\n"
              "<sub-title lang=\"en\">Part 1</sub-title>\n<desc lang=\"en\">]]&gt; "
              "ok</desc>\n<category lang=\"en\">News</category>\n<rating "
              "system=\"CTVA\">\n<value>PG</value>\n</rating>\n</programme>\n</tv>\n");
    // Outside ASCII as character references; the day file reads back to the programme.
    const QByteArray second = day("20070313.xml");
    EXPECT_TRUE(second.startsWith(header + channels));
    for (char c : second)
        ASSERT_GE(c, 0) << "7-bit ASCII only";
    EXPECT_TRUE(second.contains("<title lang=\"en\">Caf&#233; &#128250;</title>\n"
                                "<sub-title lang=\"en\"></sub-title>\n"));
    const XMLTVProgrammeList back = XMLToEPG().importXML(out.path() + "/20070313.xml");
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(
        describe(back[0], { "title", "rawChannel" }), describe(list[1], { "title", "rawChannel" }));
}

TEST_F(ExportTest, NothingToWriteOrAnUnwritableFolder)
{
    EXPECT_EQ(XMLToEPG().exportXML({}, out.path()).files, 0);
    EXPECT_EQ(XMLToEPG().exportTGD({}, out.path()).files, 0);
    EXPECT_TRUE(files().isEmpty());
    const ExportResult r = XMLToEPG().exportTGD(
        fixed({ programme("ABC", "20070312063000 +1100", "20070312070000 +1100") }),
        out.path() + "/missing/folder");
    EXPECT_EQ(r.files, 0);
    EXPECT_FALSE(r.error.isEmpty());
}
