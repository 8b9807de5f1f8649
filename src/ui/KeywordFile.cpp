#include "ui/KeywordFile.h"

#include "base/WholeFile.h"

#include <QDateTime>
#include <QFile>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <plist/plist.h>

namespace
{

// Seconds between the Unix epoch and 2001-01-01T00:00:00Z, the property-list epoch.
constexpr qint64 kPlistEpochMs = 978307200000LL;

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

QVariant fromPlist(plist_t node)
{
    switch (plist_get_node_type(node)) {
    case PLIST_STRING: {
        char *s = nullptr;
        plist_get_string_val(node, &s);
        const QString out = QString::fromUtf8(s ? s : "");
        std::free(s);
        return out;
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
    case PLIST_ARRAY: {
        QVariantList list;
        const uint32_t n = plist_array_get_size(node);
        for (uint32_t i = 0; i < n; ++i)
            list << fromPlist(plist_array_get_item(node, i));
        return list;
    }
    case PLIST_DICT: {
        QVariantMap m;
        plist_dict_iter it = nullptr;
        plist_dict_new_iter(node, &it);
        for (;;) {
            char *key = nullptr;
            plist_t val = nullptr;
            plist_dict_next_item(node, it, &key, &val);
            if (!val) {
                std::free(key);
                break;
            }
            m.insert(QString::fromUtf8(key), fromPlist(val));
            std::free(key);
        }
        std::free(it);
        return m;
    }
    default:
        return {};
    }
}

QStringList stringsOf(const QVariant &v)
{
    QStringList out;
    for (const QVariant &item : v.toList())
        out << item.toString();
    return out;
}

std::optional<int> optionalInt(const QVariantMap &m, const QString &key)
{
    const auto it = m.constFind(key);
    if (it == m.constEnd() || !it->isValid())
        return std::nullopt;
    return int(std::lround(it->toDouble()));
}

KeywordRulePtr ruleFrom(const QVariantMap &m)
{
    auto r = std::make_shared<KeywordRule>();
    r->keywords = stringsOf(m.value(QStringLiteral("Keywords")));
    if (m.contains(QStringLiteral("Negatives")))
        r->negatives = stringsOf(m.value(QStringLiteral("Negatives")));
    r->numberMatches = m.value(QStringLiteral("NumberMatches")).toInt();
    r->exact = m.value(QStringLiteral("Exact")).toBool();
    r->padStart = optionalInt(m, QStringLiteral("padStart"));
    r->padEnd = optionalInt(m, QStringLiteral("padEnd"));
    if (m.contains(QStringLiteral("autoRecord")))
        r->autoRecord = m.value(QStringLiteral("autoRecord")).toBool();
    if (m.contains(QStringLiteral("Matches"))) {
        TGDEntryList matches;
        for (const QVariant &item : m.value(QStringLiteral("Matches")).toList()) {
            auto e = std::make_shared<TGDEntry>();
            const QVariantMap fields = item.toMap();
            for (auto it = fields.cbegin(); it != fields.cend(); ++it)
                e->setValue(it.key(), it.value());
            matches.push_back(std::move(e));
        }
        r->matches = std::move(matches);
    }
    return r;
}

} // namespace

namespace KeywordFile
{

QByteArray toXml(const KeywordRules &rules)
{
    PlistPtr root(plist_new_array());
    for (const KeywordRulePtr &rule : rules) {
        QVariantMap m;
        for (const QString &key : KeywordRule::keys()) {
            const QVariant v = rule->value(key);
            if (v.isValid())
                m.insert(key, v);
        }
        plist_array_append_item(root.get(), toPlist(m));
    }
    char *xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(root.get(), &xml, &length);
    const QByteArray out(xml ? xml : "", xml ? qsizetype(length) : 0);
    plist_to_xml_free(xml);
    return out;
}

std::optional<KeywordRules> fromBytes(const QByteArray &bytes)
{
    if (bytes.isEmpty() || bytes.size() > INT32_MAX)
        return std::nullopt;
    plist_t raw = nullptr;
    plist_from_memory(bytes.constData(), uint32_t(bytes.size()), &raw);
    PlistPtr root(raw);
    if (!root || plist_get_node_type(root.get()) != PLIST_ARRAY)
        return std::nullopt;
    KeywordRules rules;
    for (const QVariant &item : fromPlist(root.get()).toList())
        if (item.typeId() == QMetaType::QVariantMap)
            rules.push_back(ruleFrom(item.toMap()));
    return rules;
}

std::optional<KeywordRules> read(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    return fromBytes(f.readAll());
}

bool write(const QString &path, const KeywordRules &rules)
{
    const QByteArray xml = toXml(rules);
    return !xml.isEmpty() && writeWholeFile(path, xml);
}

} // namespace KeywordFile
