#include "guide/XMLTree.h"
#include "support/TempHome.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace
{

XMLTree parse(const char *text)
{
    std::optional<XMLTree> t = XMLTree::treeWithData(QByteArray(text));
    EXPECT_TRUE(t.has_value()) << text;
    return t.value_or(XMLTree());
}

} // namespace

TEST(XMLTree, DocumentTypeNamedLikeTheRootLosesToTheRootElement)
{
    XMLTree doc = parse("<?xml version=\"1.0\"?>\n<!DOCTYPE tv SYSTEM \"xmltv.dtd\">\n"
                        "<tv><programme channel=\"A\"/></tv>");
    EXPECT_EQ(doc.type(), XMLTree::Document);
    ASSERT_EQ(doc.count(), 2);
    EXPECT_EQ(doc.childAtIndex(0)->type(), XMLTree::DocumentType);
    EXPECT_EQ(doc.childAtIndex(0)->name(), "tv");
    std::optional<XMLTree> tv = doc.descendentNamed(QStringLiteral("tv"));
    ASSERT_TRUE(tv);
    EXPECT_EQ(std::make_pair(tv->type(), tv->count()), std::make_pair(int(XMLTree::Element), 1));
    EXPECT_FALSE(doc.parent());
    EXPECT_EQ(tv->parent()->type(), XMLTree::Document);
}

TEST(XMLTree, TextContentJoinsEveryPieceWithoutSeparators)
{
    XMLTree r = *parse("<r><rating system=\"x\"><value>M</value></rating>"
                       "<mixed>a<b>b</b>c<!-- no -->d</mixed><empty/></r>")
                     .childAtIndex(0);
    EXPECT_EQ(r.childNamed("rating")->description(), "M");
    const XMLTree mixed = *r.childNamed("mixed");
    EXPECT_EQ(mixed.description(), "abcd");
    EXPECT_TRUE(r.childNamed("empty")->description().isEmpty());
    EXPECT_FALSE(r.childNamed("empty")->description().isNull());
    const XMLTree text = *mixed.childAtIndex(0);
    EXPECT_EQ(std::make_tuple(text.type(), text.description(), text.count()),
        std::make_tuple(int(XMLTree::Text), QString("a"), 0));
    EXPECT_FALSE(text.attributeNamed("x") || text.attributes());
    EXPECT_EQ(mixed.childAtIndex(3)->type(), XMLTree::Comment);
}

TEST(XMLTree, ChildLookups)
{
    XMLTree r
        = *parse("<r>\n  <c k=\"1\"/>\n  <c k=\"2\"/>\n  <c/>\n  <d>c</d>\n</r>").childAtIndex(0);
    EXPECT_EQ(r.count(), 4) << "whitespace between elements is no node";
    EXPECT_TRUE(r.childAtIndex(3));
    EXPECT_FALSE(r.childAtIndex(4) || r.childAtIndex(-1));
    EXPECT_EQ(r.childNamed("c")->attributeNamed(QStringLiteral("k")), "1");
    EXPECT_EQ(r.childNamed("c", "k", "2")->attributeNamed("k"), "2");
    EXPECT_FALSE(r.childNamed("c", "k", "3"));
    // A text child whose text is the name matches childNamed but not the attribute form.
    XMLTree d = *r.childNamed("d");
    EXPECT_EQ(d.childNamed("c")->type(), XMLTree::Text);
    EXPECT_FALSE(d.childNamed("c", "k", "1"));
    EXPECT_EQ(r.attributes()->size(), 0);
    EXPECT_EQ(r.childAtIndex(1)->attributes()->value("k"), "2");
    EXPECT_EQ(XMLTree().count(), -1);
    EXPECT_FALSE(XMLTree().name());
}

TEST(XMLTree, ExternalEntitiesAreNeverRead)
{
    QTemporaryDir dir;
    const QByteArray secret = (dir.path() + "/secret.txt").toUtf8();
    ASSERT_TRUE(writeFile(secret, "TOPSECRET"));
    std::optional<XMLTree> t = XMLTree::treeWithData("<!DOCTYPE r [<!ENTITY s SYSTEM \"file://"
        + secret + "\"><!ENTITY % p SYSTEM \"file://" + secret + "\"> %p;]><r><t>&s;</t></r>");
    if (t) {
        EXPECT_FALSE(t->description().contains("TOPSECRET"));
        EXPECT_FALSE(t->xml()->contains("TOPSECRET"));
    }
}

TEST(XMLTree, EntityExpansionBombIsRefusedQuickly)
{
    QByteArray doc = "<!DOCTYPE r [<!ENTITY a0 \"xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx\">";
    for (int i = 1; i <= 10; ++i)
        doc += "<!ENTITY a" + QByteArray::number(i) + " \""
            + ("&a" + QByteArray::number(i - 1) + ";").repeated(10) + "\">";
    QElapsedTimer timer;
    timer.start();
    QString error;
    EXPECT_FALSE(XMLTree::treeWithData(doc + "]><r>&a10;</r>", {}, &error))
        << "a 32 GB expansion must not be built";
    EXPECT_LT(timer.elapsed(), 5000);
    EXPECT_FALSE(error.isEmpty());
}

TEST(XMLTree, MalformedOrAbsentInputGivesNothing)
{
    SystemLogCapture log;
    QString error;
    EXPECT_FALSE(XMLTree::treeWithData(QByteArray(), {}, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(XMLTree::treeWithData("<a><b></a>", {}, &error));
    EXPECT_TRUE(error.startsWith("line 1:")) << error.toStdString();
    EXPECT_FALSE(XMLTree::treeWithData("<a/><b/>"));
    EXPECT_FALSE(XMLTree::treeWithURL("/nonexistent/guide.xml"));
    EXPECT_FALSE(XMLTree::treeWithURL("http://127.0.0.1:1/guide.xml"));
    EXPECT_TRUE(log.lines().isEmpty()) << "the caller reports parse failures";
}

TEST(XMLTree, ReadsLocalFilesByPathAndURL)
{
    QTemporaryDir dir;
    const QString path = dir.path() + "/g.xml";
    ASSERT_TRUE(writeFile(path, "<tv><programme/></tv>"));
    EXPECT_EQ(XMLTree::treeWithURL(path)->descendentNamed(QStringLiteral("tv"))->count(), 1);
    EXPECT_EQ(XMLTree::treeWithURL("file://" + path)->count(), 1);
}

TEST(XMLTree, XmlIsSevenBitAscii)
{
    XMLTree doc
        = parse("<?xml version=\"1.0\" encoding=\"UTF-8\"?><t a=\"\xc3\xa9\">\xc3\xa9 &amp; x</t>");
    EXPECT_EQ(*doc.childAtIndex(0)->xml(), "<t a=\"&#233;\">&#233; &amp; x</t>");
    EXPECT_TRUE(doc.xml()->contains("&#233; &amp; x"));
}

TEST(XMLTree, XPathFindsTheFirstMatchOrLogsABadExpression)
{
    XMLTree doc = parse("<tv><programme channel=\"A\"><title>x</title></programme>"
                        "<programme channel=\"B\"><title>y</title></programme></tv>");
    SystemLogCapture log;
    EXPECT_EQ(doc.xpath("//programme/title")->description(), "x");
    EXPECT_EQ(doc.childAtIndex(0)->childAtIndex(1)->xpath("title")->description(), "y");
    EXPECT_EQ(doc.xpath("//programme[@channel='B']/@channel")->type(), XMLTree::Attribute);
    EXPECT_FALSE(doc.xpath("//nothing"));
    EXPECT_TRUE(log.lines().isEmpty());
    EXPECT_FALSE(doc.xpath("//["));
    ASSERT_EQ(log.lines().size(), 1);
    EXPECT_TRUE(log.lines().at(0).contains("//["));
}

TEST(XMLTree, SharesKeepTheDocumentAlive)
{
    std::optional<XMLTree> title = parse("<tv><programme><title>kept</title></programme></tv>")
                                       .descendentNamed(QStringLiteral("title"));
    EXPECT_EQ(title->description(), "kept");
    EXPECT_EQ(title->parent()->parent()->name(), "tv");
}
