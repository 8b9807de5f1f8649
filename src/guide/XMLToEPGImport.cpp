#include "guide/XMLToEPG.h"

#include "base/SystemLog.h"
#include "guide/XMLTree.h"

#include <QFile>
#include <QUrl>
#include <libxml/tree.h>
#include <libxml/xmlreader.h>
#include <string>

// Reading the XMLTV document into programmes; normalising them is XMLToEPG.cpp's part.

namespace
{

const std::string kTv = "tv";
const std::string kChannel = "channel";

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
    auto text = [&node](const char *name) -> std::optional<QString> {
        if (std::optional<XMLTree> d = node.descendentNamed(std::string(name)))
            return d->description();
        return std::nullopt;
    };
    XMLTVProgramme p;
    p.title = text("title").value_or(QString());
    p.rating = text("rating").value_or(QString());
    p.category = text("category").value_or(QString());
    p.description = text("desc").value_or(QString());
    const std::optional<QString> sub = text("sub-title");
    p.subTitle = sub.value_or(QString());
    p.subtitle = (sub ? *sub + QStringLiteral(" [") : QStringLiteral(" [")) + p.category
        + QLatin1Char(']');
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
    for (const XMLTree &child : tv->children())
        if (!child.nameEquals(kChannel))
            out.push_back(readProgramme(child));
    return out;
}

XMLTVProgrammeList XMLToEPG::importXML(const QString &url, QString *error, bool *foundGuide) const
{
    if (foundGuide)
        *foundGuide = false;
    auto fail = [&](const QString &why) {
        systemLog(QStringLiteral("tree is null"));
        if (error)
            *error = why;
        return XMLTVProgrammeList();
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
    XMLTVProgrammeList out;
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
            if (xmltree::isVisible(node)) {
                const std::optional<XMLTree> child = XMLTree::treeWithNode(node);
                if (!child->nameEquals(kChannel))
                    out.push_back(readProgramme(*child));
            }
            ret = xmlTextReaderNext(reader);
            continue;
        }
        ret = xmlTextReaderRead(reader);
    }
    xmlFreeTextReader(reader);

    if (needTree) {
        out.clear();
        QString why;
        const std::optional<XMLTree> tree = XMLTree::treeWithURL(path, &why);
        if (!tree)
            return fail(why);
        return importTree(*tree, foundGuide);
    }
    if (ret < 0 || !rootSeen)
        return fail(capture.error.isEmpty() ? QStringLiteral("not well-formed") : capture.error);
    if (foundGuide)
        *foundGuide = true;
    if (laterMatch)
        out.clear();
    return out;
}
