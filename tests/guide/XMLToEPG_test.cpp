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

// Every value joined by '|', an absent one as '~'.
QString describe(const XMLTVProgramme &p)
{
    QStringList out;
    for (const QString &key : XMLTVProgramme::keys()) {
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

// Only a guide below another root is read as a whole tree, and only up to a size; a large
// document with no guide in it is looked through and refused without being held.
TEST_F(XMLToEPGTest, DocumentsWithoutAGuideRootAreReadWholeOnlyWhenSmall)
{
    const QByteArray padding = ("<p>" + QByteArray(1017, 'x') + "</p>\n").repeated(66 * 1024);
    const QByteArray guide = "<tv><programme><title>a</title></programme></tv>";
    const struct {
        const char *name;
        QByteArray xml;
        bool found;
        qsizetype programmes;
        const char *error;
    } cases[] = {
        { "large, no guide", "<wrap>" + padding + "</wrap>", false, 0, "" },
        { "large, guide below", "<wrap>" + padding + guide + "</wrap>", false, 0,
            "a guide below another root element is read up to 64 MB only" },
        { "small, guide below", "<wrap>" + guide + "</wrap>", true, 1, "" },
        { "broken", "<wrap><oops></wrap>", false, 0, "line 1: " },
    };
    for (const auto &c : cases) {
        QString error;
        bool found = !c.found;
        EXPECT_EQ(qsizetype(importText(c.xml, &error, &found).size()), c.programmes) << c.name;
        EXPECT_EQ(found, c.found) << c.name;
        EXPECT_TRUE(*c.error ? error.startsWith(c.error) : error.isEmpty())
            << c.name << ": " << error.toStdString();
    }
}

// The streaming import must give exactly what the whole-document tree gives.
TEST(StreamingImport, MatchesTheTreeOnARealFile)
{
    const QString path = QStringLiteral(PALLARO_TEST_DATA "/guide/xmltv/amp.xml");
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
        EXPECT_EQ(describe(fromTree[i]), describe(streamed[i])) << i;
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

TEST_F(ExportTest, DayXmlFilesCarryTheWholeChannelListAndEscapedText)
{
    XMLTVProgrammeList list = fixed({
        programme("ABC", "20070312180000 +1100", "20070312183000 +1100", "Q&A <live> \"x\""),
        programme("SBS \"1\"", "20070313180000 +1100", "20070313183000 +1100",
            "Caf\xc3\xa9 \xf0\x9f\x93\xba"),
    });
    list[0].chanName = QStringLiteral("7"); // the grid names it as the table does
    list[0].subTitle = QStringLiteral("Part 1");
    list[0].description = QStringLiteral("]]> ok");
    list[0].category = QStringLiteral("News");
    list[0].rating = QStringLiteral("PG");
    EXPECT_EQ(XMLToEPG().exportXML(list, out.path()).files, 2);
    EXPECT_EQ(files(), (QStringList { "20070312.xml", "20070313.xml" }));
    const QByteArray header = readFile(Paths::resourcesFolder() + "header.xml");
    ASSERT_FALSE(header.isEmpty());
    const QByteArray channels
        = "<channel id=\"ABC\">\n<display-name lang=\"en\">Seven</display-name>\n"
          "</channel>\n<channel id=\"SBS &quot;1&quot;\">\n<display-name "
          "lang=\"en\">SBS</display-name>\n</channel>\n";
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
    EXPECT_EQ(std::make_pair(back[0].title, back[0].rawChannel),
        std::make_pair(list[1].title, list[1].rawChannel));
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
