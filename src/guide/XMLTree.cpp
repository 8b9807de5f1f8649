#include "guide/XMLTree.h"

#include "base/SystemLog.h"

#include <QFile>
#include <QUrl>
#include <algorithm>
#include <cstring>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/tree.h>
#include <libxml/xmlsave.h>
#include <libxml/xpath.h>
#include <limits>
#include <mutex>

namespace xmltree
{

namespace
{
// Every external entity, DTD or other resource the parser asks for is refused, so a
// document can neither read local files nor reach the network.
xmlParserInputPtr refuseExternal(const char *, const char *, xmlParserCtxtPtr)
{
    return nullptr;
}

void silentGeneric(void *, const char *, ...) { }
void silentStructured(void *, xmlErrorPtr) { }
} // namespace

void installSafeLoader()
{
    static std::once_flag once;
    std::call_once(once, [] {
        xmlInitParser();
        xmlSetExternalEntityLoader(refuseExternal);
    });
    // Error handlers are per thread in libxml2; keep parse noise off standard error.
    xmlSetGenericErrorFunc(nullptr, silentGeneric);
    xmlSetStructuredErrorFunc(nullptr, silentStructured);
}

int parseOptions()
{
    // NOENT resolves entity references into text (libxml2 still limits their growth);
    // NOCDATA delivers CDATA sections as text; no DTD is loaded (no DTDLOAD).
    return XML_PARSE_NOENT | XML_PARSE_NOCDATA | XML_PARSE_NONET | XML_PARSE_NOERROR
        | XML_PARSE_NOWARNING | XML_PARSE_COMPACT;
}

bool isVisible(const _xmlNode *node)
{
    if (node->type != XML_TEXT_NODE)
        return node->type != XML_NAMESPACE_DECL;
    for (const xmlChar *p = node->content; p && *p; ++p)
        if (*p != ' ' && *p != '\t' && *p != '\r' && *p != '\n')
            return true;
    return false;
}

} // namespace xmltree

namespace
{
bool nameIs(const xmlNode *n, const std::string &name);
void searchEach(const xmlNode *node, const std::string *names, int count, unsigned open,
    const xmlNode **found);
void appendText(const xmlNode *node, std::string &out);
bool isContainer(const xmlNode *n);
std::string nodeName(const xmlNode *n);
const xmlAttr *findAttribute(const xmlNode *n, const char *name);
} // namespace

namespace xmltree
{

void descendentsNamed(
    const _xmlNode *node, const std::string *names, int count, const _xmlNode **found)
{
    for (int i = 0; i < count; ++i)
        found[i] = nullptr;
    if (node && node->type != XML_ATTRIBUTE_NODE)
        searchEach(node, names, std::min(count, 32), (count >= 32 ? ~0u : (1u << count) - 1),
            found);
}

void appendDescription(const _xmlNode *node, std::string &out)
{
    if (!node)
        return;
    if (isContainer(node))
        appendText(node, out);
    else
        out += nodeName(node);
}

bool appendAttribute(const _xmlNode *node, const char *utf8Name, std::string &out)
{
    const xmlAttr *a = node ? findAttribute(node, utf8Name) : nullptr;
    if (!a)
        return false;
    const xmlNode *c = a->children;
    if (!c)
        return true;
    if (c->type == XML_TEXT_NODE && !c->next) {
        if (c->content)
            out += reinterpret_cast<const char *>(c->content);
        return true;
    }
    xmlChar *value = xmlNodeListGetString(a->doc, c, 1);
    if (value)
        out += reinterpret_cast<const char *>(value);
    xmlFree(value);
    return true;
}

} // namespace xmltree

namespace
{

QString fromXml(const xmlChar *s)
{
    return s ? QString::fromUtf8(reinterpret_cast<const char *>(s)) : QString();
}

bool isContainer(const xmlNode *n)
{
    return n->type == XML_DOCUMENT_NODE || n->type == XML_HTML_DOCUMENT_NODE
        || n->type == XML_ELEMENT_NODE;
}

// The name of a node as bytes: the qualified tag name, a text's or comment's content, or
// what the parser calls the node.
std::string nodeName(const xmlNode *n)
{
    switch (n->type) {
    case XML_ELEMENT_NODE:
        if (n->ns && n->ns->prefix)
            return std::string(reinterpret_cast<const char *>(n->ns->prefix)) + ':'
                + reinterpret_cast<const char *>(n->name);
        return reinterpret_cast<const char *>(n->name);
    case XML_TEXT_NODE:
    case XML_CDATA_SECTION_NODE:
    case XML_COMMENT_NODE:
        return n->content ? reinterpret_cast<const char *>(n->content) : "";
    case XML_DOCUMENT_NODE:
    case XML_HTML_DOCUMENT_NODE:
        return "";
    default:
        return n->name ? reinterpret_cast<const char *>(n->name) : "";
    }
}

bool nameIs(const xmlNode *n, const std::string &name)
{
    const xmlChar *s = nullptr;
    switch (n->type) {
    case XML_ELEMENT_NODE:
        if (n->ns && n->ns->prefix)
            return nodeName(n) == name;
        s = n->name;
        break;
    case XML_TEXT_NODE:
    case XML_CDATA_SECTION_NODE:
    case XML_COMMENT_NODE:
        s = n->content;
        break;
    case XML_DOCUMENT_NODE:
    case XML_HTML_DOCUMENT_NODE:
        return name.empty();
    default:
        s = n->name;
        break;
    }
    return std::strcmp(s ? reinterpret_cast<const char *>(s) : "", name.c_str()) == 0;
}

const xmlNode *search(const xmlNode *node, const std::string &name)
{
    const xmlNode *result = nullptr;
    for (const xmlNode *c = node->children; c; c = c->next) {
        if (!xmltree::isVisible(c))
            continue;
        if (nameIs(c, name)) {
            result = c;
        } else if (c->type == XML_ELEMENT_NODE) {
            if (const xmlNode *found = search(c, name))
                result = found;
        }
    }
    return result;
}

// search() for several names at once. A match hides its own subtree from that name only.
void searchEach(const xmlNode *node, const std::string *names, int count, unsigned open,
    const xmlNode **found)
{
    for (const xmlNode *c = node->children; c; c = c->next) {
        if (!xmltree::isVisible(c))
            continue;
        unsigned below = open;
        for (int i = 0; i < count; ++i)
            if ((open & (1u << i)) && nameIs(c, names[i])) {
                found[i] = c;
                below &= ~(1u << i);
            }
        if (below && c->type == XML_ELEMENT_NODE)
            searchEach(c, names, count, below, found);
    }
}

void appendText(const xmlNode *node, std::string &out)
{
    for (const xmlNode *c = node->children; c; c = c->next) {
        if (c->type == XML_TEXT_NODE) {
            if (xmltree::isVisible(c) && c->content)
                out += reinterpret_cast<const char *>(c->content);
        } else if (c->type == XML_ELEMENT_NODE) {
            appendText(c, out);
        }
    }
}

const xmlAttr *findAttribute(const xmlNode *n, const char *name)
{
    if (n->type != XML_ELEMENT_NODE)
        return nullptr;
    for (const xmlAttr *a = n->properties; a; a = a->next) {
        if (a->ns && a->ns->prefix) {
            const std::string qualified = std::string(reinterpret_cast<const char *>(a->ns->prefix))
                + ':' + reinterpret_cast<const char *>(a->name);
            if (qualified == name)
                return a;
        } else if (std::strcmp(reinterpret_cast<const char *>(a->name), name) == 0) {
            return a;
        }
    }
    return nullptr;
}

QString attributeValue(const xmlAttr *a)
{
    const xmlNode *c = a->children;
    if (!c)
        return QString(QLatin1String(""));
    if (c->type == XML_TEXT_NODE && !c->next)
        return fromXml(c->content);
    xmlChar *value = xmlNodeListGetString(a->doc, c, 1);
    QString s = fromXml(value);
    xmlFree(value);
    return s;
}

QString attributeName(const xmlAttr *a)
{
    QString n = fromXml(a->name);
    if (a->ns && a->ns->prefix)
        n = fromXml(a->ns->prefix) + QLatin1Char(':') + n;
    return n;
}

} // namespace

XMLTree::XMLTree(std::shared_ptr<_xmlDoc> owner, _xmlNode *node)
    : doc_(std::move(owner))
    , node_(node)
{
}

std::optional<XMLTree> XMLTree::treeWithData(
    const QByteArray &data, const QString &baseUrl, QString *error)
{
    xmltree::installSafeLoader();
    if (data.isEmpty()) {
        if (error)
            *error = QStringLiteral("the document is empty");
        return std::nullopt;
    }
    // The parser takes the length as an int.
    if (data.size() > std::numeric_limits<int>::max()) {
        if (error)
            *error = QStringLiteral("the document is larger than 2 GiB");
        return std::nullopt;
    }
    xmlParserCtxtPtr ctxt = xmlNewParserCtxt();
    if (!ctxt)
        return std::nullopt;
    const QByteArray url = baseUrl.toUtf8();
    xmlDocPtr doc = xmlCtxtReadMemory(ctxt, data.constData(), int(data.size()),
        url.isEmpty() ? nullptr : url.constData(), nullptr, xmltree::parseOptions());
    if (!doc || !ctxt->wellFormed) {
        if (error) {
            const xmlError *e = &ctxt->lastError;
            const QString message = e->message
                ? fromXml(reinterpret_cast<const xmlChar *>(e->message)).trimmed()
                : QStringLiteral("not well-formed");
            *error = QStringLiteral("line %1: %2").arg(e->line).arg(message);
        }
        if (doc)
            xmlFreeDoc(doc);
        xmlFreeParserCtxt(ctxt);
        return std::nullopt;
    }
    xmlFreeParserCtxt(ctxt);
    std::shared_ptr<_xmlDoc> owner(doc, xmlFreeDoc);
    return XMLTree(owner, reinterpret_cast<xmlNode *>(doc));
}

std::optional<XMLTree> XMLTree::treeWithURL(const QString &url, QString *error)
{
    const QUrl u(url);
    QString path = url;
    if (!u.scheme().isEmpty() && u.scheme().size() > 1) {
        if (!u.isLocalFile()) {
            if (error)
                *error = QStringLiteral("only local files are read");
            return std::nullopt;
        }
        path = u.toLocalFile();
    }
    if (path.isEmpty())
        return std::nullopt;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        if (error)
            *error = f.errorString();
        return std::nullopt;
    }
    if (f.size() > std::numeric_limits<int>::max()) {
        if (error)
            *error = QStringLiteral("the document is larger than 2 GiB");
        return std::nullopt;
    }
    return treeWithData(f.readAll(), QUrl::fromLocalFile(path).toString(), error);
}

std::optional<XMLTree> XMLTree::treeWithNode(_xmlNode *node, std::shared_ptr<_xmlDoc> owner)
{
    if (!node)
        return std::nullopt;
    return XMLTree(std::move(owner), node);
}

std::optional<XMLTree> XMLTree::parent() const
{
    if (!node_ || !node_->parent || node_->type == XML_DOCUMENT_NODE)
        return std::nullopt;
    return XMLTree(doc_, node_->parent);
}

int XMLTree::count() const
{
    if (!node_)
        return -1;
    if (node_->type == XML_ATTRIBUTE_NODE)
        return 0;
    int n = 0;
    for (const xmlNode *c = node_->children; c; c = c->next)
        if (xmltree::isVisible(c))
            ++n;
    return n;
}

std::vector<XMLTree> XMLTree::children() const
{
    std::vector<XMLTree> out;
    if (!node_ || node_->type == XML_ATTRIBUTE_NODE)
        return out;
    for (xmlNode *c = node_->children; c; c = c->next)
        if (xmltree::isVisible(c))
            out.push_back(XMLTree(doc_, c));
    return out;
}

std::optional<XMLTree> XMLTree::childAtIndex(int index) const
{
    if (!node_ || index < 0 || node_->type == XML_ATTRIBUTE_NODE)
        return std::nullopt;
    for (xmlNode *c = node_->children; c; c = c->next) {
        if (!xmltree::isVisible(c))
            continue;
        if (index-- == 0)
            return XMLTree(doc_, c);
    }
    return std::nullopt;
}

std::optional<XMLTree> XMLTree::childNamed(const QString &name) const
{
    if (!node_ || node_->type == XML_ATTRIBUTE_NODE)
        return std::nullopt;
    const std::string n = name.toStdString();
    for (xmlNode *c = node_->children; c; c = c->next)
        if (xmltree::isVisible(c) && nameIs(c, n))
            return XMLTree(doc_, c);
    return std::nullopt;
}

std::optional<XMLTree> XMLTree::childNamed(
    const QString &name, const QString &attribute, const QString &value) const
{
    if (!node_ || node_->type == XML_ATTRIBUTE_NODE)
        return std::nullopt;
    const std::string n = name.toStdString();
    const std::string a = attribute.toStdString();
    for (xmlNode *c = node_->children; c; c = c->next) {
        if (c->type != XML_ELEMENT_NODE || !nameIs(c, n))
            continue;
        const xmlAttr *attr = findAttribute(c, a.c_str());
        if (attr && attributeValue(attr) == value)
            return XMLTree(doc_, c);
    }
    return std::nullopt;
}

std::optional<XMLTree> XMLTree::descendentNamed(const QString &name) const
{
    return descendentNamed(name.toStdString());
}

std::optional<XMLTree> XMLTree::descendentNamed(const std::string &utf8Name) const
{
    if (!node_ || node_->type == XML_ATTRIBUTE_NODE)
        return std::nullopt;
    if (const xmlNode *found = search(node_, utf8Name))
        return XMLTree(doc_, const_cast<xmlNode *>(found));
    return std::nullopt;
}

std::vector<std::optional<XMLTree>> XMLTree::descendentsNamed(
    const std::vector<std::string> &utf8Names) const
{
    std::vector<std::optional<XMLTree>> out(utf8Names.size());
    if (!node_ || node_->type == XML_ATTRIBUTE_NODE)
        return out;
    std::vector<const xmlNode *> found(utf8Names.size(), nullptr);
    xmltree::descendentsNamed(node_, utf8Names.data(), int(utf8Names.size()), found.data());
    for (size_t i = 0; i < found.size(); ++i)
        if (found[i])
            out[i] = XMLTree(doc_, const_cast<xmlNode *>(found[i]));
    return out;
}

bool XMLTree::nameEquals(const std::string &utf8Name) const
{
    return node_ && nameIs(node_, utf8Name);
}

std::optional<QString> XMLTree::name() const
{
    if (!node_)
        return std::nullopt;
    return QString::fromStdString(nodeName(node_));
}

int XMLTree::type() const
{
    if (!node_)
        return 0;
    switch (node_->type) {
    case XML_DOCUMENT_NODE:
    case XML_HTML_DOCUMENT_NODE:
        return Document;
    case XML_ELEMENT_NODE:
        return Element;
    case XML_ATTRIBUTE_NODE:
        return Attribute;
    case XML_PI_NODE:
        return ProcessingInstruction;
    case XML_COMMENT_NODE:
        return Comment;
    case XML_TEXT_NODE:
        return Text;
    case XML_CDATA_SECTION_NODE:
        return CDATASection;
    case XML_DOCUMENT_FRAG_NODE:
        return DocumentFragment;
    case XML_ENTITY_NODE:
    case XML_ENTITY_DECL:
        return Entity;
    case XML_ENTITY_REF_NODE:
        return EntityReference;
    case XML_DOCUMENT_TYPE_NODE:
    case XML_DTD_NODE:
        return DocumentType;
    case XML_NOTATION_NODE:
        return Notation;
    case XML_ELEMENT_DECL:
        return ElementTypeDeclaration;
    case XML_ATTRIBUTE_DECL:
        return AttributeListDeclaration;
    default:
        return Other;
    }
}

std::optional<QMap<QString, QString>> XMLTree::attributes() const
{
    if (!node_ || node_->type != XML_ELEMENT_NODE)
        return std::nullopt;
    QMap<QString, QString> map;
    for (const xmlAttr *a = node_->properties; a; a = a->next)
        map.insert(attributeName(a), attributeValue(a));
    return map;
}

std::optional<QString> XMLTree::attributeNamed(const QString &name) const
{
    return attributeNamed(name.toUtf8().constData());
}

std::optional<QString> XMLTree::attributeNamed(const char *utf8Name) const
{
    if (!node_)
        return std::nullopt;
    if (const xmlAttr *a = findAttribute(node_, utf8Name))
        return attributeValue(a);
    return std::nullopt;
}

QString XMLTree::description() const
{
    if (!node_)
        return QString(QLatin1String(""));
    if (isContainer(node_)) {
        // The usual case, one text child and nothing else, needs no joining.
        const xmlNode *only = node_->children;
        if (only && !only->next && only->type == XML_TEXT_NODE)
            return xmltree::isVisible(only) ? fromXml(only->content) : QString(QLatin1String(""));
        std::string text;
        appendText(node_, text);
        return QString::fromUtf8(text.data(), qsizetype(text.size()));
    }
    return QString::fromStdString(nodeName(node_));
}

std::optional<QString> XMLTree::xml() const
{
    if (!node_)
        return std::nullopt;
    xmlBufferPtr buffer = xmlBufferCreate();
    if (!buffer)
        return std::nullopt;
    xmlSaveCtxtPtr save = xmlSaveToBuffer(buffer, "ASCII", 0);
    if (!save) {
        xmlBufferFree(buffer);
        return std::nullopt;
    }
    const long written = node_->type == XML_DOCUMENT_NODE
        ? xmlSaveDoc(save, reinterpret_cast<xmlDocPtr>(node_))
        : xmlSaveTree(save, node_);
    const bool ok = xmlSaveClose(save) >= 0 && written >= 0;
    std::optional<QString> out;
    if (ok)
        out = QString::fromLatin1(
            reinterpret_cast<const char *>(xmlBufferContent(buffer)), xmlBufferLength(buffer));
    xmlBufferFree(buffer);
    return out;
}

std::optional<XMLTree> XMLTree::xpath(const QString &expression) const
{
    if (!node_ || !node_->doc)
        return std::nullopt;
    xmlXPathContextPtr ctx = xmlXPathNewContext(node_->doc);
    if (!ctx)
        return std::nullopt;
    ctx->node = node_;
    ctx->error = [](void *, xmlErrorPtr) {};
    const QByteArray expr = expression.toUtf8();
    xmlXPathObjectPtr result
        = xmlXPathEvalExpression(reinterpret_cast<const xmlChar *>(expr.constData()), ctx);
    std::optional<XMLTree> out;
    if (!result) {
        systemLog(QStringLiteral("invalid XPath expression: ") + expression);
    } else {
        if (result->type == XPATH_NODESET && result->nodesetval && result->nodesetval->nodeNr > 0) {
            xmlNodePtr first = result->nodesetval->nodeTab[0];
            if (first && first->type != XML_NAMESPACE_DECL)
                out = XMLTree(doc_, first);
        }
        xmlXPathFreeObject(result);
    }
    xmlXPathFreeContext(ctx);
    return out;
}
