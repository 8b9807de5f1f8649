#include "guide/XMLToEPG.h"

#include "base/SystemLog.h"
#include "guide/XMLTree.h"

#include <QFile>
#include <QUrl>
#include <libxml/tree.h>
#include <libxml/xmlreader.h>
#include <deque>
#include <string>

// Reading the XMLTV document into programmes; normalising them is XMLToEPG.cpp's part.

namespace
{

const std::string kTv = "tv";
const std::string kChannel = "channel";
// The whole-tree import holds several times the document in memory.
constexpr qint64 kMaxTreeBytes = 64 * 1024 * 1024;

QString localPath(const QString &url)
{
    const QUrl u(url);
    if (u.isLocalFile())
        return u.toLocalFile();
    return url;
}

struct ReaderCapture {
    QString error;
};

void captureReaderError(void *arg, xmlErrorPtr e)
{
    auto *cap = static_cast<ReaderCapture *>(arg);
    if (!e || e->level < XML_ERR_ERROR || !cap->error.isEmpty())
        return;
    cap->error = QStringLiteral("line %1: %2")
                     .arg(e->line)
                     .arg(QString::fromUtf8(e->message ? e->message : "not well-formed").trimmed());
}

} // namespace

XMLTVProgramme XMLToEPG::readProgramme(const XMLTree &node)
{
    // One walk of the subtree finds all five, each as the descendant search would.
    static const std::vector<std::string> names
        = { "title", "rating", "category", "desc", "sub-title" };
    const std::vector<std::optional<XMLTree>> found = node.descendentsNamed(names);
    auto text = [&found](int i) { return found[i] ? found[i]->description() : QString(); };
    XMLTVProgramme p;
    p.title = text(0);
    p.rating = text(1);
    p.category = text(2);
    p.description = text(3);
    p.subTitle = text(4);
    QString subtitle;
    subtitle.reserve(p.subTitle.size() + p.category.size() + 3);
    subtitle += p.subTitle;
    subtitle += QLatin1String(" [");
    subtitle += p.category;
    subtitle += QLatin1Char(']');
    p.subtitle = std::move(subtitle);
    // Each raw key is stored only when the ones before it are there.
    if ((p.rawChannel = node.attributeNamed("channel"))) {
        if ((p.rawStart = node.attributeNamed("start")))
            p.rawStop = node.attributeNamed("stop");
    }
    return p;
}

XMLTVProgrammeList XMLToEPG::importTree(const XMLTree &document, bool *foundGuide) const
{
    XMLTVProgrammeList out;
    const std::optional<XMLTree> tv = document.descendentNamed(kTv);
    if (foundGuide)
        *foundGuide = tv.has_value();
    if (!tv)
        return out;
    out.reserve(size_t(tv->count()));
    for (const XMLTree &child : tv->children())
        if (!child.nameEquals(kChannel))
            out.push_back(readProgramme(child));
    return out;
}

XMLTVProgrammeList XMLToEPG::importXML(const QString &url, QString *error, bool *foundGuide) const
{
    // Gathered in blocks and moved once into a list of the exact size, so no record moves
    // twice and no doubled list is ever held.
    std::deque<XMLTVProgramme> read;
    const bool stands = importEach(url, error, foundGuide, [&read](_xmlNode *node) {
        read.push_back(readProgramme(*XMLTree::treeWithNode(node)));
    });
    XMLTVProgrammeList out;
    if (!stands)
        return out;
    out.reserve(read.size());
    while (!read.empty()) {
        out.push_back(std::move(read.front()));
        read.pop_front();
    }
    return out;
}

bool XMLToEPG::rootIsGuide(const QString &path)
{
    xmltree::installSafeLoader();
    const QByteArray encodedPath = QFile::encodeName(path);
    xmlTextReaderPtr reader
        = xmlReaderForFile(encodedPath.constData(), nullptr, xmltree::parseOptions());
    if (!reader)
        return false;
    ReaderCapture ignored;
    xmlTextReaderSetStructuredErrorHandler(reader, captureReaderError, &ignored);
    bool guide = false;
    while (xmlTextReaderRead(reader) == 1) {
        if (xmlTextReaderNodeType(reader) == XML_READER_TYPE_ELEMENT) {
            guide = XMLTree::treeWithNode(xmlTextReaderCurrentNode(reader))->nameEquals(kTv);
            break;
        }
    }
    xmlFreeTextReader(reader);
    return guide;
}

bool XMLToEPG::importEach(const QString &url, QString *error, bool *foundGuide,
    const std::function<void(_xmlNode *)> &visit)
{
    if (foundGuide)
        *foundGuide = false;
    auto fail = [&](const QString &why) {
        systemLog(QStringLiteral("tree is null"));
        if (error)
            *error = why;
        return false;
    };
    const QString path = localPath(url);
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly))
        return fail(path.isEmpty() ? QStringLiteral("no file named") : file.errorString());
    if (file.size() == 0)
        return fail(QStringLiteral("the document is empty"));
    file.close();

    xmltree::installSafeLoader();
    const QByteArray encodedPath = QFile::encodeName(path);
    // Errors are collected by the handler below, so the parser's own reporting stays off.
    xmlTextReaderPtr reader
        = xmlReaderForFile(encodedPath.constData(), nullptr, xmltree::parseOptions());
    if (!reader)
        return fail(QStringLiteral("cannot be read"));
    ReaderCapture capture;
    xmlTextReaderSetStructuredErrorHandler(reader, captureReaderError, &capture);

    // The guide element is the last top-level "tv" match of the descendant search. When the
    // root element is "tv" it is that root, unless a comment or processing instruction
    // named "tv" follows it; any other shape is left to the whole-tree import.
    bool rootSeen = false, rootDone = false, laterMatch = false, needTree = false;
    int ret = xmlTextReaderRead(reader);
    while (ret == 1) {
        const int depth = xmlTextReaderDepth(reader);
        const int type = xmlTextReaderNodeType(reader);
        if (depth == 0) {
            xmlNodePtr node = xmlTextReaderCurrentNode(reader);
            if (type == XML_READER_TYPE_ELEMENT) {
                rootSeen = true;
                if (!XMLTree::treeWithNode(node)->nameEquals(kTv)) {
                    needTree = true;
                    break;
                }
                rootDone = xmlTextReaderIsEmptyElement(reader) == 1;
            } else if (type == XML_READER_TYPE_END_ELEMENT) {
                rootDone = true;
            } else if (rootDone && node && xmltree::isVisible(node)
                && XMLTree::treeWithNode(node)->nameEquals(kTv)) {
                laterMatch = true;
            }
            ret = xmlTextReaderRead(reader);
            continue;
        }
        if (depth == 1 && rootSeen && !rootDone && type != XML_READER_TYPE_END_ELEMENT
            && type != XML_READER_TYPE_WHITESPACE
            && type != XML_READER_TYPE_SIGNIFICANT_WHITESPACE) {
            xmlNodePtr node = xmlTextReaderExpand(reader);
            if (!node) {
                ret = -1;
                break;
            }
            if (xmltree::isVisible(node) && !XMLTree::treeWithNode(node)->nameEquals(kChannel))
                visit(node);
            // Moving on frees the subtree just read.
            ret = xmlTextReaderNext(reader);
            continue;
        }
        ret = xmlTextReaderRead(reader);
    }
    xmlFreeTextReader(reader);

    if (needTree) {
        // Another root: the guide may stand deeper, where only the whole tree finds it. The
        // rest of the document is first looked through without keeping it, so a document
        // with no guide in it is refused in bounded memory whatever its size.
        bool anyTv = false;
        if (xmlTextReaderPtr scan
            = xmlReaderForFile(encodedPath.constData(), nullptr, xmltree::parseOptions())) {
            xmlTextReaderSetStructuredErrorHandler(scan, captureReaderError, &capture);
            while (!anyTv && xmlTextReaderRead(scan) == 1) {
                xmlNodePtr node = xmlTextReaderCurrentNode(scan);
                anyTv = node && XMLTree::treeWithNode(node)->nameEquals(kTv);
            }
            xmlFreeTextReader(scan);
        }
        if (!anyTv)
            return capture.error.isEmpty() ? true : fail(capture.error);
        if (file.size() > kMaxTreeBytes)
            return fail(
                QStringLiteral("a guide below another root element is read up to %1 MB only")
                    .arg(kMaxTreeBytes >> 20));
        QString why;
        const std::optional<XMLTree> tree = XMLTree::treeWithURL(path, &why);
        if (!tree)
            return fail(why);
        const std::optional<XMLTree> tv = tree->descendentNamed(kTv);
        if (foundGuide)
            *foundGuide = tv.has_value();
        if (!tv)
            return true;
        for (const XMLTree &child : tv->children())
            if (!child.nameEquals(kChannel))
                visit(child.node());
        return true;
    }
    if (ret < 0 || !rootSeen)
        return fail(capture.error.isEmpty() ? QStringLiteral("not well-formed") : capture.error);
    if (foundGuide)
        *foundGuide = true;
    return !laterMatch;
}
