#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct _xmlNode;
struct _xmlDoc;

// One node of a parsed XML document together with the subtree below it. Copies are cheap
// and share the document: a tree made by a creator keeps the whole document alive for as
// long as any copy exists. Whitespace-only text produces no node; entity references are
// resolved into the surrounding text and CDATA sections arrive as text. Parsing never
// reaches the network and never loads external entities or DTDs.
class XMLTree
{
public:
    // Node kinds. Only Document, Element and Text are told apart by the importer; every
    // other kind has a code of its own.
    enum Kind {
        Document = 1,
        Element = 2,
        Attribute = 3,
        ProcessingInstruction = 4,
        Comment = 5,
        Text = 6,
        CDATASection = 7,
        DocumentFragment = 8,
        Entity = 9,
        EntityReference = 10,
        DocumentType = 11,
        Notation = 13,
        ElementTypeDeclaration = 14,
        AttributeListDeclaration = 15,
        Other = 16,
    };

    // An object with neither document nor node (count() is -1).
    XMLTree() = default;

    // The document node of the parsed bytes; nothing when they do not parse. `baseUrl`
    // serves only to resolve relative references. `error` receives a one-line reason.
    static std::optional<XMLTree> treeWithData(
        const QByteArray &data, const QString &baseUrl = {}, QString *error = nullptr);
    // Reads a local file (a path or a file:// URL) and parses it the same way.
    static std::optional<XMLTree> treeWithURL(const QString &url, QString *error = nullptr);
    // Wraps a node of an existing parse. `owner` (may be empty) is shared to keep the
    // node alive; without one the caller guarantees the node outlives every copy.
    static std::optional<XMLTree> treeWithNode(_xmlNode *node, std::shared_ptr<_xmlDoc> owner = {});

    bool isNull() const { return node_ == nullptr; }
    // The parser's node, for readers that work on it directly.
    _xmlNode *node() const { return node_; }

    std::optional<XMLTree> parent() const;
    int count() const;
    std::optional<XMLTree> childAtIndex(int index) const;
    std::optional<XMLTree> childNamed(const QString &name) const;
    std::optional<XMLTree> childNamed(
        const QString &name, const QString &attribute, const QString &value) const;
    // The last match in document order among the descendants, not counting matches inside
    // another match; only elements are searched below. The node itself is no candidate.
    std::optional<XMLTree> descendentNamed(const QString &name) const;
    std::optional<XMLTree> descendentNamed(const std::string &utf8Name) const;
    // descendentNamed for several names in one walk of the subtree: entry i for names[i].
    std::vector<std::optional<XMLTree>> descendentsNamed(
        const std::vector<std::string> &utf8Names) const;
    // Every child as a node of its own, in document order (whitespace-only text left out).
    std::vector<XMLTree> children() const;

    std::optional<QString> name() const;
    int type() const;
    std::optional<QMap<QString, QString>> attributes() const;
    std::optional<QString> attributeNamed(const QString &name) const;
    std::optional<QString> attributeNamed(const char *utf8Name) const;
    // The text below a document or element node, joined without separators; the name of
    // any other node.
    QString description() const;
    // The subtree written out as XML, non-ASCII characters as numeric character references.
    std::optional<QString> xml() const;
    // The first node the XPath expression selects, evaluated at this node; nothing when it
    // selects none, or (with one system-log line) when the expression is invalid.
    std::optional<XMLTree> xpath(const QString &expression) const;

    // Whether the name equals the UTF-8 bytes given (exact, no normalisation).
    bool nameEquals(const std::string &utf8Name) const;

private:
    XMLTree(std::shared_ptr<_xmlDoc> owner, _xmlNode *node);

    std::shared_ptr<_xmlDoc> doc_;
    _xmlNode *node_ = nullptr;
};

namespace xmltree
{
// Parser options and the refusing entity loader, shared by every libxml2 parse in the
// program so the streaming importer follows exactly the rules of the tree.
int parseOptions();
void installSafeLoader();
// Whether a libxml2 node counts as a node of the tree (whitespace-only text does not).
bool isVisible(const _xmlNode *node);

// The same searches on bare nodes, for readers that hold no XMLTree. `found` gets, for
// each of the `count` names, what descendentNamed would give, or null.
void descendentsNamed(
    const _xmlNode *node, const std::string *names, int count, const _xmlNode **found);
// XMLTree::description() as UTF-8, appended to `out`.
void appendDescription(const _xmlNode *node, std::string &out);
// An element's attribute value as UTF-8, appended to `out`; false when there is none.
bool appendAttribute(const _xmlNode *node, const char *utf8Name, std::string &out);
} // namespace xmltree
