#include "ui/KeywordFile.h"

#include "base/SystemLog.h"
#include "base/WholeFile.h"
#include "ui/PlistScreen.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <plist/plist.h>

namespace
{

// Seconds between the Unix epoch and 2001-01-01T00:00:00Z, the property-list epoch.
constexpr qint64 kPlistEpochMs = 978307200000LL;
// A fortnight of 200 channels with a dozen broad rules comes to about 120 MB; what this
// program writes it must read back, or the rules would be set aside at the next start.
constexpr qint64 kMaxFileSize = 512 * 1024 * 1024;
// Matches rendered per libplist call while the file is stored.
constexpr size_t kMatchBatch = 256;
// What libplist puts before the root of every XML document.
constexpr char kDocumentHead[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist PUBLIC "
                                 "\"-//Apple//DTD PLIST 1.0//EN\" "
                                 "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n<plist "
                                 "version=\"1.0\">\n";

struct PlistFree {
    void operator()(void *p) const { plist_free(static_cast<plist_t>(p)); }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

plist_t toPlist(const QVariant &v);

plist_t arrayOf(const QVariantList &list)
{
    plist_t a = plist_new_array();
    for (const QVariant &item : list)
        if (plist_t node = toPlist(item))
            plist_array_append_item(a, node);
    return a;
}

plist_t toPlist(const QVariant &v)
{
    switch (v.typeId()) {
    case QMetaType::QString:
        return plist_new_string(v.toString().toUtf8().constData());
    case QMetaType::Bool:
        return plist_new_bool(v.toBool() ? 1 : 0);
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::Short:
        return plist_new_uint(uint64_t(v.toLongLong()));
    case QMetaType::Double:
    case QMetaType::Float:
        return plist_new_real(v.toDouble());
    case QMetaType::QDateTime: {
        const QDateTime d = v.toDateTime();
        if (!d.isValid())
            return nullptr;
        const qint64 ms = d.toMSecsSinceEpoch() - kPlistEpochMs;
        const qint64 sec = ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
        return plist_new_date(int32_t(sec), int32_t((ms - sec * 1000) * 1000));
    }
    case QMetaType::QStringList: {
        plist_t a = plist_new_array();
        for (const QString &s : v.toStringList())
            plist_array_append_item(a, plist_new_string(s.toUtf8().constData()));
        return a;
    }
    case QMetaType::QVariantList:
        return arrayOf(v.toList());
    case QMetaType::QVariantMap: {
        plist_t d = plist_new_dict();
        const QVariantMap m = v.toMap();
        for (auto it = m.cbegin(); it != m.cend(); ++it)
            if (plist_t node = toPlist(it.value()))
                plist_dict_set_item(d, it.key().toUtf8().constData(), node);
        return d;
    }
    default:
        return nullptr; // a value a property list cannot hold
    }
}

QByteArray xmlOf(plist_t root)
{
    char *xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(root, &xml, &length);
    const QByteArray out(xml ? xml : "", xml ? qsizetype(length) : 0);
    plist_to_xml_free(xml);
    return out;
}

// libplist's text for `node` as it stands `depth` containers deep in a document (for
// `items`, the text of the array's items at that depth), without what surrounds it: it is
// rendered inside arrays and cut out. Empty when the framing is not the expected one.
QByteArray nestedXml(PlistPtr node, int depth, bool items = false)
{
    for (int d = items ? depth - 1 : depth; d > 0; --d) {
        plist_t a = plist_new_array();
        plist_array_append_item(a, node.release());
        node.reset(a);
    }
    QByteArray open = kDocumentHead, close = "</plist>\n";
    for (int d = 0; d < depth; ++d) {
        open += QByteArray(d, '\t') + "<array>\n";
        close.prepend(QByteArray(d, '\t') + "</array>\n");
    }
    const QByteArray text = xmlOf(node.get());
    if (text.size() < open.size() + close.size() || !text.startsWith(open) || !text.endsWith(close))
        return {};
    return text.sliced(open.size(), text.size() - open.size() - close.size());
}

// A rule's values under their keys, with or without its matches.
QVariantMap ruleValues(const KeywordRule &rule, bool withMatches)
{
    QVariantMap m;
    for (const QString &key : KeywordRule::keys()) {
        if (!withMatches && key == QLatin1String("Matches"))
            continue;
        const QVariant v = rule.value(key);
        if (v.isValid())
            m.insert(key, v);
    }
    return m;
}

// Rule files nest four containers deep (rules, rule, matches, match); anything far deeper
// is not a rule file.
constexpr int kMaxDepth = 16;

// A scalar's value; invalid for a container, data, or a string holding a NUL (which
// *bad is set for: such a file is damaged, not merely unusual).
QVariant scalarOf(plist_t node, bool *bad)
{
    switch (plist_get_node_type(node)) {
    case PLIST_STRING: {
        uint64_t length = 0;
        const char *s = plist_get_string_ptr(node, &length);
        if (!s || length > uint64_t(INT32_MAX) || std::memchr(s, 0, size_t(length))) {
            *bad = true;
            return {};
        }
        return QString::fromUtf8(s, qsizetype(length));
    }
    case PLIST_BOOLEAN: {
        uint8_t b = 0;
        plist_get_bool_val(node, &b);
        return bool(b);
    }
    case PLIST_UINT: {
        uint64_t u = 0;
        plist_get_uint_val(node, &u);
        const qint64 i = qint64(u);
        if (i >= INT_MIN && i <= INT_MAX)
            return int(i);
        return i;
    }
    case PLIST_REAL: {
        double d = 0;
        plist_get_real_val(node, &d);
        return d;
    }
    case PLIST_DATE: {
        int32_t sec = 0, usec = 0;
        plist_get_date_val(node, &sec, &usec);
        return QDateTime::fromMSecsSinceEpoch(kPlistEpochMs + qint64(sec) * 1000 + usec / 1000)
            .toLocalTime();
    }
    default:
        return {};
    }
}

// A value stored under a key: a scalar, or a list of scalars.
QVariant valueOf(plist_t node, bool *bad)
{
    if (plist_get_node_type(node) != PLIST_ARRAY)
        return scalarOf(node, bad);
    QVariantList list;
    const uint32_t n = plist_array_get_size(node);
    for (uint32_t i = 0; i < n; ++i)
        list << scalarOf(plist_array_get_item(node, i), bad);
    return list;
}

// A term list; a lone text is one term (QVariant would split it into characters).
QStringList stringsOf(const QVariant &v)
{
    if (v.typeId() == QMetaType::QString)
        return { v.toString() };
    QStringList out;
    for (const QVariant &item : v.toList())
        out << item.toString();
    return out;
}

// Keys are looked up by name: reading a key's text would trip libplist's length assertion
// on a key holding a NUL.
std::optional<QVariant> itemOf(plist_t dict, const QString &key, bool *bad)
{
    plist_t node = plist_dict_get_item(dict, key.toUtf8().constData());
    if (!node)
        return std::nullopt;
    return valueOf(node, bad);
}

std::optional<int> optionalInt(plist_t dict, const QString &key, bool *bad)
{
    const std::optional<QVariant> v = itemOf(dict, key, bad);
    if (!v || !v->isValid())
        return std::nullopt;
    return int(std::lround(v->toDouble()));
}

TGDEntryList matchesOf(plist_t list, bool *bad)
{
    TGDEntryList matches;
    const uint32_t n = plist_get_node_type(list) == PLIST_ARRAY ? plist_array_get_size(list) : 0;
    for (uint32_t i = 0; i < n; ++i) {
        plist_t fields = plist_array_get_item(list, i);
        if (plist_get_node_type(fields) != PLIST_DICT)
            continue;
        auto e = std::make_shared<TGDEntry>();
        for (const QString &key : TGDEntry::keys())
            if (const std::optional<QVariant> v = itemOf(fields, key, bad))
                e->setValue(key, *v, false);
        e->refreshSearchText();
        matches.push_back(std::move(e));
    }
    return matches;
}

KeywordRulePtr ruleFrom(plist_t dict, bool *bad)
{
    auto r = std::make_shared<KeywordRule>();
    r->keywords = stringsOf(itemOf(dict, QStringLiteral("Keywords"), bad).value_or(QVariant()));
    if (const auto v = itemOf(dict, QStringLiteral("Negatives"), bad))
        r->negatives = stringsOf(*v);
    r->numberMatches = itemOf(dict, QStringLiteral("NumberMatches"), bad).value_or(0).toInt();
    r->exact = itemOf(dict, QStringLiteral("Exact"), bad).value_or(false).toBool();
    r->padStart = optionalInt(dict, QStringLiteral("padStart"), bad);
    r->padEnd = optionalInt(dict, QStringLiteral("padEnd"), bad);
    if (const auto v = itemOf(dict, QStringLiteral("autoRecord"), bad))
        r->autoRecord = v->toBool();
    if (plist_t m = plist_dict_get_item(dict, "Matches"))
        r->matches = matchesOf(m, bad);
    // Kept, usable or not (a dictionary or data as an empty dictionary): the match run says
    // which it ignores, and the next store writes back what the user wrote.
    for (const QString &key : KeywordRule::filterKeys())
        if (const auto v = itemOf(dict, key, bad))
            r->filters.insert(key, v->isValid() ? *v : QVariant(QVariantMap()));
    return r;
}

// A name beside `path` that no file has yet: "<path>.bad", then "<path>.bad.1" and on.
QString asideName(const QString &path)
{
    QString name = path + QStringLiteral(".bad");
    for (int i = 1; QFileInfo::exists(name) || QFileInfo(name).isSymLink(); ++i)
        name = path + QStringLiteral(".bad.%1").arg(i);
    return name;
}

} // namespace

namespace KeywordFile
{

QByteArray wholeTreeXml(const KeywordRules &rules)
{
    PlistPtr root(plist_new_array());
    for (const KeywordRulePtr &rule : rules)
        plist_array_append_item(root.get(), toPlist(ruleValues(*rule, true)));
    return xmlOf(root.get());
}

namespace
{

bool streamXml(const KeywordRules &rules, const WholeFileSink &sink)
{
    if (rules.empty())
        return sink(wholeTreeXml(rules));
    if (!sink(kDocumentHead) || !sink("<array>\n"))
        return false;
    // Where a rule's matches go: its "Matches" rendered with one empty dictionary, which no
    // other value of a rule can be (terms are strings).
    const QByteArray hole = nestedXml(PlistPtr(plist_new_dict()), 3);
    if (hole.isEmpty())
        return false;
    for (const KeywordRulePtr &rule : rules) {
        QVariantMap values = ruleValues(*rule, false);
        const bool anyMatch = rule->matches && !rule->matches->empty();
        if (rule->matches)
            values.insert(QStringLiteral("Matches"),
                anyMatch ? QVariantList { QVariantMap() } : QVariantList());
        const QByteArray text = nestedXml(PlistPtr(toPlist(values)), 1);
        const qsizetype at = anyMatch ? text.indexOf(hole) : -1;
        if (text.isEmpty() || (anyMatch && (at < 0 || text.indexOf(hole, at + 1) >= 0)))
            return false;
        if (!anyMatch) {
            if (!sink(text))
                return false;
            continue;
        }
        if (!sink(QByteArrayView(text).first(at)))
            return false;
        // The matches a batch at a time: the tree of every match at once is what made
        // storing the rules cost more memory than the whole guide.
        const TGDEntryList &matches = *rule->matches;
        for (size_t from = 0; from < matches.size(); from += kMatchBatch) {
            PlistPtr batch(plist_new_array());
            for (size_t i = from; i < std::min(matches.size(), from + kMatchBatch); ++i)
                plist_array_append_item(
                    batch.get(), toPlist(KeywordRule::matchValues(*matches[i])));
            const QByteArray part = nestedXml(std::move(batch), 3, true);
            if (part.isEmpty() || !sink(part))
                return false;
        }
        if (!sink(QByteArrayView(text).sliced(at + hole.size())))
            return false;
    }
    return sink("</array>\n</plist>\n");
}

} // namespace

QByteArray toXml(const KeywordRules &rules)
{
    QByteArray out;
    if (streamXml(rules, [&out](QByteArrayView piece) {
            out.append(piece);
            return true;
        }))
        return out;
    return wholeTreeXml(rules);
}

std::optional<KeywordRules> fromBytes(const QByteArray &bytes, QString *why)
{
    QString reason;
    if (!why)
        why = &reason;
    if (bytes.isEmpty() || bytes.size() > INT32_MAX) {
        *why = bytes.isEmpty() ? QStringLiteral("the file is empty") : QStringLiteral("too large");
        return std::nullopt;
    }
    if (!PlistScreen::safeToParse(bytes, kMaxDepth, why))
        return std::nullopt;
    plist_t raw = nullptr;
    plist_from_memory(bytes.constData(), uint32_t(bytes.size()), &raw);
    PlistPtr root(raw);
    if (!root || plist_get_node_type(root.get()) != PLIST_ARRAY) {
        *why = root ? QStringLiteral("its root is not a list of rules")
                    : QStringLiteral("not a property list");
        return std::nullopt;
    }
    bool bad = false;
    KeywordRules rules;
    const uint32_t n = plist_array_get_size(root.get());
    for (uint32_t i = 0; i < n; ++i) {
        plist_t item = plist_array_get_item(root.get(), i);
        if (plist_get_node_type(item) == PLIST_DICT)
            rules.push_back(ruleFrom(item, &bad));
    }
    if (bad) {
        *why = QStringLiteral("a text holds a NUL character");
        return std::nullopt;
    }
    return rules;
}

std::optional<KeywordRules> read(const QString &path, QString *setAside)
{
    QFile f(path);
    if (!f.exists() && !QFileInfo(path).isSymLink())
        return std::nullopt;
    QString why;
    if (f.open(QIODevice::ReadOnly)) {
        // A plain file is read at its size: asking for the cap would reserve all of it.
        const QByteArray bytes = f.size() > kMaxFileSize ? QByteArray()
            : f.isSequential()                          ? f.read(kMaxFileSize + 1)
                                                        : f.readAll();
        if (bytes.size() > kMaxFileSize)
            why = QStringLiteral("too large");
        else if (auto rules = fromBytes(bytes, &why))
            return rules;
        f.close();
    } else {
        why = f.errorString();
    }
    // The rules start empty and the next store would overwrite the file: keep it aside.
    const QString aside = asideName(path);
    const QString line = QFile::rename(path, aside)
        ? QStringLiteral("The keyword rule file could not be read (%1); it was kept as "
                         "\"%2\" and the rules start empty.")
              .arg(why, QFileInfo(aside).fileName())
        : QStringLiteral("The keyword rule file could not be read (%1) nor set aside; "
                         "the rules start empty.")
              .arg(why);
    if (setAside)
        *setAside = line;
    else
        systemLog(line);
    return std::nullopt;
}

bool write(const QString &path, const KeywordRules &rules)
{
    if (writeWholeFile(path, [&rules](const WholeFileSink &sink) { return streamXml(rules, sink); }))
        return true;
    // libplist framed its text otherwise than expected (or the disk failed): the whole tree.
    const QByteArray xml = wholeTreeXml(rules);
    return !xml.isEmpty() && writeWholeFile(path, xml);
}

} // namespace KeywordFile
