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
    EXPECT_EQ(doc.childAtIndex(0)->name(), QStringLiteral("tv"));
    std::optional<XMLTree> tv = doc.descendentNamed(QStringLiteral("tv"));
    ASSERT_TRUE(tv);
    EXPECT_EQ(tv->type(), XMLTree::Element);
    EXPECT_EQ(tv->count(), 1);
    EXPECT_FALSE(doc.parent());
    EXPECT_EQ(tv->parent()->type(), XMLTree::Document);
}

TEST(XMLTree, DescendantSearchTakesTheLastOutermostMatch)
{
    XMLTree doc = parse("<p><title>one</title><x><title>two</title></x>"
                        "<a id=\"outer\"><a id=\"inner\"/></a></p>");
    XMLTree p = *doc.childAtIndex(0);
    EXPECT_EQ(p.descendentNamed(QStringLiteral("title"))->description(), QStringLiteral("two"));
    EXPECT_EQ(p.descendentNamed(QStringLiteral("a"))->attributeNamed(QStringLiteral("id")),
        QStringLiteral("outer"));
    EXPECT_FALSE(p.descendentNamed(QStringLiteral("p"))) << "the node itself is no candidate";
    EXPECT_FALSE(p.descendentNamed(QStringLiteral("missing")));
}

TEST(XMLTree, TextContentJoinsEveryPieceWithoutSeparators)
{
    XMLTree doc = parse("<r><rating system=\"x\"><value>M</value></rating>"
                        "<mixed>a<b>b</b>c<!-- no -->d</mixed><empty/></r>");
    XMLTree r = *doc.childAtIndex(0);
    EXPECT_EQ(r.childNamed(QStringLiteral("rating"))->description(), QStringLiteral("M"));
    EXPECT_EQ(r.childNamed(QStringLiteral("mixed"))->description(), QStringLiteral("abcd"));
    const std::optional<XMLTree> empty = r.childNamed(QStringLiteral("empty"));
    EXPECT_TRUE(empty->description().isEmpty());
    EXPECT_FALSE(empty->description().isNull());
    const XMLTree text = *r.childNamed(QStringLiteral("mixed"))->childAtIndex(0);
    EXPECT_EQ(text.type(), XMLTree::Text);
    EXPECT_EQ(text.description(), QStringLiteral("a"));
    EXPECT_EQ(text.count(), 0);
    EXPECT_FALSE(text.attributeNamed(QStringLiteral("x")));
    EXPECT_FALSE(text.attributes());
    EXPECT_EQ(r.childNamed(QStringLiteral("mixed"))->childAtIndex(3)->type(), XMLTree::Comment);
}

TEST(XMLTree, ChildLookups)
{
    XMLTree doc = parse("<r>\n  <c k=\"1\"/>\n  <c k=\"2\"/>\n  <c/>\n  <d>c</d>\n</r>");
    XMLTree r = *doc.childAtIndex(0);
    EXPECT_EQ(r.count(), 4) << "whitespace between elements is no node";
    EXPECT_TRUE(r.childAtIndex(3));
    EXPECT_FALSE(r.childAtIndex(4));
    EXPECT_FALSE(r.childAtIndex(-1));
    EXPECT_EQ(r.childNamed(QStringLiteral("c"))->attributeNamed(QStringLiteral("k")),
        QStringLiteral("1"));
    EXPECT_EQ(r.childNamed(QStringLiteral("c"), QStringLiteral("k"), QStringLiteral("2"))
                  ->attributeNamed(QStringLiteral("k")),
        QStringLiteral("2"));
    EXPECT_FALSE(r.childNamed(QStringLiteral("c"), QStringLiteral("k"), QStringLiteral("3")));
    // A text child whose text is the name matches childNamed but not the attribute form.
    XMLTree d = *r.childNamed(QStringLiteral("d"));
    EXPECT_EQ(d.childNamed(QStringLiteral("c"))->type(), XMLTree::Text);
    EXPECT_FALSE(d.childNamed(QStringLiteral("c"), QStringLiteral("k"), QStringLiteral("1")));
    EXPECT_EQ(r.attributes()->size(), 0);
    EXPECT_EQ(r.childAtIndex(1)->attributes()->value(QStringLiteral("k")), QStringLiteral("2"));
    EXPECT_EQ(XMLTree().count(), -1);
    EXPECT_FALSE(XMLTree().name());
}

TEST(XMLTree, EntitiesAndCDATAArriveAsText)
{
    XMLTree doc = parse("<!DOCTYPE r [<!ENTITY chan \"Seven &amp; Co\">]>"
                        "<r><t>&chan; &lt;live&gt; &#233;</t><d><![CDATA[a <b> & c]]></d></r>");
    XMLTree r = *doc.descendentNamed(QStringLiteral("r"));
    EXPECT_EQ(r.childNamed(QStringLiteral("t"))->description(),
        QString::fromUtf8("Seven & Co <live> \u00e9"));
    EXPECT_EQ(r.childNamed(QStringLiteral("d"))->description(), QStringLiteral("a <b> & c"));
}

TEST(XMLTree, ExternalEntitiesAreNeverRead)
{
    QTemporaryDir dir;
    const QString secret = dir.path() + "/secret.txt";
    ASSERT_TRUE(writeFile(secret, "TOPSECRET"));
    const QByteArray doc = "<!DOCTYPE r [<!ENTITY s SYSTEM \"file://" + secret.toUtf8()
        + "\"><!ENTITY % p SYSTEM \"file://" + secret.toUtf8() + "\"> %p;]><r><t>&s;</t></r>";
    std::optional<XMLTree> t = XMLTree::treeWithData(doc);
    if (t) {
        EXPECT_FALSE(t->description().contains(QStringLiteral("TOPSECRET")));
        EXPECT_FALSE(t->xml()->contains(QStringLiteral("TOPSECRET")));
    }
}

TEST(XMLTree, EntityExpansionBombIsRefusedQuickly)
{
    QByteArray doc = "<!DOCTYPE r [<!ENTITY a0 \"xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx\">";
    for (int i = 1; i <= 10; ++i) {
        doc += "<!ENTITY a" + QByteArray::number(i) + " \"";
        for (int k = 0; k < 10; ++k)
            doc += "&a" + QByteArray::number(i - 1) + ";";
        doc += "\">";
    }
    doc += "]><r>&a10;</r>";
    QElapsedTimer timer;
    timer.start();
    QString error;
    std::optional<XMLTree> t = XMLTree::treeWithData(doc, {}, &error);
    EXPECT_LT(timer.elapsed(), 5000);
    EXPECT_FALSE(t) << "a 32 GB expansion must not be built";
    EXPECT_FALSE(error.isEmpty());
}

TEST(XMLTree, MalformedOrAbsentInputGivesNothing)
{
    SystemLogCapture log;
    QString error;
    EXPECT_FALSE(XMLTree::treeWithData(QByteArray(), {}, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(XMLTree::treeWithData("<a><b></a>", {}, &error));
    EXPECT_TRUE(error.startsWith(QStringLiteral("line 1:"))) << error.toStdString();
    EXPECT_FALSE(XMLTree::treeWithData("<a/><b/>"));
    EXPECT_FALSE(XMLTree::treeWithURL(QStringLiteral("/nonexistent/guide.xml")));
    EXPECT_FALSE(XMLTree::treeWithURL(QStringLiteral("http://127.0.0.1:1/guide.xml")));
    EXPECT_TRUE(log.lines().isEmpty()) << "the caller reports parse failures";
}

TEST(XMLTree, ReadsLocalFilesByPathAndURL)
{
    QTemporaryDir dir;
    const QString path = dir.path() + "/g.xml";
    ASSERT_TRUE(writeFile(path, "<tv><programme/></tv>"));
    EXPECT_EQ(XMLTree::treeWithURL(path)->descendentNamed(QStringLiteral("tv"))->count(), 1);
    EXPECT_EQ(XMLTree::treeWithURL(QStringLiteral("file://") + path)->count(), 1);
}

TEST(XMLTree, XmlIsSevenBitAscii)
{
    XMLTree doc
        = parse("<?xml version=\"1.0\" encoding=\"UTF-8\"?><t a=\"\xc3\xa9\">\xc3\xa9 &amp; x</t>");
    const QString out = *doc.childAtIndex(0)->xml();
    EXPECT_EQ(out, QStringLiteral("<t a=\"&#233;\">&#233; &amp; x</t>"));
    EXPECT_TRUE(doc.xml()->contains(QStringLiteral("&#233; &amp; x")));
}

TEST(XMLTree, XPathFindsTheFirstMatchOrLogsABadExpression)
{
    XMLTree doc = parse("<tv><programme channel=\"A\"><title>x</title></programme>"
                        "<programme channel=\"B\"><title>y</title></programme></tv>");
    SystemLogCapture log;
    EXPECT_EQ(doc.xpath(QStringLiteral("//programme/title"))->description(), QStringLiteral("x"));
    XMLTree second = *doc.childAtIndex(0)->childAtIndex(1);
    EXPECT_EQ(second.xpath(QStringLiteral("title"))->description(), QStringLiteral("y"));
    EXPECT_EQ(doc.xpath(QStringLiteral("//programme[@channel='B']/@channel"))->type(),
        XMLTree::Attribute);
    EXPECT_FALSE(doc.xpath(QStringLiteral("//nothing")));
    EXPECT_TRUE(log.lines().isEmpty());
    EXPECT_FALSE(doc.xpath(QStringLiteral("//[")));
    ASSERT_EQ(log.lines().size(), 1);
    EXPECT_TRUE(log.lines().at(0).contains(QStringLiteral("//[")));
}

TEST(XMLTree, SharesKeepTheDocumentAlive)
{
    std::optional<XMLTree> title;
    {
        XMLTree doc = parse("<tv><programme><title>kept</title></programme></tv>");
        title = doc.descendentNamed(QStringLiteral("title"));
    }
    EXPECT_EQ(title->description(), QStringLiteral("kept"));
    EXPECT_EQ(title->parent()->parent()->name(), QStringLiteral("tv"));
}
