#include "ui/PlistScreen.h"

#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace
{

// ---- XML: the tags libplist's tokenizer sees, in its order, counting open containers.
// The walk follows libplist's own rules for comments, processing instructions, DOCTYPE,
// quoted attribute text and the text of scalar elements, so a closing tag hidden where
// libplist would not see one cannot hide an opening one. Where libplist would give up,
// the walk stops: the tree libplist built up to there is no deeper than what was counted.

using View = std::string_view;
constexpr size_t npos = View::npos;

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The position of `what` from `from`, stepping over "..." sections when asked.
size_t findText(View s, View what, size_t from, bool skipQuotes)
{
    for (size_t i = from; i + what.size() <= s.size(); ++i) {
        if (s.compare(i, what.size(), what) == 0)
            return i;
        if (skipQuotes && s[i] == '"') {
            i = s.find('"', i + 1);
            if (i == npos)
                return npos;
        }
    }
    return npos;
}

// The first of `chars` from `from`, stepping over "..." sections when asked.
size_t findAny(View s, View chars, size_t from, bool skipQuotes)
{
    for (size_t i = from; i < s.size(); ++i) {
        if (skipQuotes && s[i] == '"') {
            i = s.find('"', i + 1);
            if (i == npos)
                return npos;
        }
        if (chars.find(s[i]) != npos)
            return i;
    }
    return npos;
}

bool isScalarTag(View name)
{
    for (View t : { "key", "string", "integer", "real", "true", "false", "data", "date" })
        if (name == t)
            return true;
    return false;
}

// Past the text of a scalar element up to and including its closing tag; npos where
// libplist stops.
size_t skipScalarText(View s, size_t i, View tag)
{
    for (;;) {
        const size_t lt = s.find('<', i);
        if (lt == npos || lt + 1 >= s.size())
            return npos;
        size_t j = lt + 1;
        if (s[j] == '!') {
            const bool comment = s.compare(j + 1, 2, "--") == 0;
            const bool cdata = s.compare(j + 1, 7, "[CDATA[") == 0;
            if (!comment && !cdata)
                return npos;
            const size_t end = comment ? s.find("-->", j + 3) : s.find("]]>", j + 8);
            if (end == npos)
                return npos;
            i = end + 3;
            continue;
        }
        if (s[j] != '/' || s.compare(j + 1, tag.size(), tag) != 0)
            return npos;
        j += 1 + tag.size();
        while (j < s.size() && isSpace(s[j]))
            ++j;
        return j < s.size() && s[j] == '>' ? j + 1 : npos;
    }
}

bool xmlSafe(View s, int maxDepth, QString *why)
{
    if (s.find('\0') != npos) {
        *why = QStringLiteral("a NUL byte in the XML text");
        return false;
    }
    int depth = 0;
    size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && isSpace(s[i]))
            ++i;
        if (i + 1 >= s.size() || s[i] != '<')
            return true;
        ++i;
        size_t end = npos;
        if (s[i] == '?') {
            end = findText(s, "?>", i, true);
            if (end == npos)
                return true;
            i = end + 2;
            continue;
        }
        if (s[i] == '!') {
            if (s.compare(i, 3, "!--") == 0) {
                end = s.find("-->", i + 3);
                if (end == npos)
                    return true;
                i = end + 3;
            } else if (s.compare(i, 8, "!DOCTYPE") == 0) {
                end = findAny(s, "[>", i + 8, true);
                if (end != npos && s[end] == '[') {
                    end = findText(s, "]>", end, true);
                    if (end != npos)
                        ++end;
                }
                if (end == npos)
                    return true;
                i = end + 1;
            } else {
                return true;
            }
            continue;
        }
        const size_t nameEnd = findAny(s, " \r\n\t<>", i, false);
        if (nameEnd == npos)
            return true;
        const size_t close = s[nameEnd] == '>' ? nameEnd : findAny(s, "<>", nameEnd, true);
        if (close == npos || s[close] != '>')
            return true;
        const bool empty = s[close - 1] == '/';
        size_t nameLength = nameEnd - i;
        if (empty && close - i - 1 < nameLength)
            nameLength = close - i - 1;
        const View name = s.substr(i, nameLength);
        i = close + 1;
        if (name == "array" || name == "dict") {
            if (!empty && ++depth > maxDepth) {
                *why = QStringLiteral("nested deeper than %1 levels").arg(maxDepth);
                return false;
            }
        } else if (name == "/array" || name == "/dict") {
            if (depth > 0)
                --depth;
        } else if (!empty && isScalarTag(name)) {
            i = skipScalarText(s, i, name);
            if (i == npos)
                return true;
        }
    }
    return true;
}

// ---- Binary: the object graph from the top object, walked without recursion, each object
// once. libplist copies an object once per reference, so the size of the tree it builds
// is the sum over the graph with shared objects counted once per path.

struct Binary {
    const uint8_t *data = nullptr;
    size_t objectsEnd = 0; // objects lie before the offset table
    const uint8_t *offsets = nullptr;
    unsigned offsetSize = 0;
    unsigned refSize = 0;
    uint64_t count = 0;
    uint64_t top = 0;
};

uint64_t bigEndian(const uint8_t *p, unsigned n)
{
    uint64_t v = 0;
    for (unsigned i = 0; i < n; ++i)
        v = v << 8 | p[i];
    return v;
}

// The trailer and the offset table, checked the way libplist checks them.
bool readTrailer(const QByteArray &bytes, Binary &b)
{
    const auto *d = reinterpret_cast<const uint8_t *>(bytes.constData());
    const size_t size = size_t(bytes.size());
    if (size < 8 + 32)
        return false;
    const uint8_t *t = d + size - 32;
    b.data = d;
    b.offsetSize = t[6];
    b.refSize = t[7];
    b.count = bigEndian(t + 8, 8);
    b.top = bigEndian(t + 16, 8);
    const uint64_t table = bigEndian(t + 24, 8);
    const size_t trailer = size - 32;
    if (b.offsetSize == 0 || b.offsetSize > 8 || b.refSize == 0 || b.refSize > 8 || b.count == 0
        || b.top >= b.count || table < 8 || table >= trailer
        || b.count > (trailer - table) / b.offsetSize)
        return false;
    b.objectsEnd = size_t(table);
    b.offsets = d + table;
    return true;
}

// The references held by an object (none for a scalar); false for an object libplist
// could not read or a string holding a NUL.
bool referencesOf(const Binary &b, uint64_t index, const uint8_t **refs, uint64_t *n)
{
    *n = 0;
    const uint64_t at = bigEndian(b.offsets + index * b.offsetSize, b.offsetSize);
    if (at >= b.objectsEnd)
        return false;
    size_t pos = size_t(at);
    const uint8_t marker = b.data[pos++];
    const unsigned type = marker >> 4;
    uint64_t length = marker & 0x0F;
    if (length == 0x0F && (type == 0x4 || type == 0x5 || type == 0x6 || type >= 0xA)) {
        if (pos >= b.objectsEnd || (b.data[pos] & 0xF0) != 0x10)
            return false;
        const unsigned width = 1u << (b.data[pos] & 0x0F);
        if (width > 8 || b.objectsEnd - pos - 1 < width)
            return false;
        length = bigEndian(b.data + pos + 1, width);
        pos += 1 + width;
    }
    const size_t room = b.objectsEnd - pos;
    if (type == 0x5 || type == 0x6) { // ASCII, UTF-16 big-endian
        const unsigned unit = type == 0x5 ? 1 : 2;
        if (length > room / unit)
            return false;
        for (uint64_t i = 0; i < length; ++i)
            if (b.data[pos + i * unit] == 0 && (unit == 1 || b.data[pos + i * unit + 1] == 0))
                return false;
        return true;
    }
    if (type == 0xA || type == 0xC || type == 0xD) { // array, set, dictionary
        const uint64_t refCount = type == 0xD ? length * 2 : length;
        if (length > room / b.refSize || refCount > room / b.refSize)
            return false;
        *refs = b.data + pos;
        *n = refCount;
    }
    return true;
}

bool binarySafe(const QByteArray &bytes, int maxDepth, QString *why)
{
    Binary b;
    if (!readTrailer(bytes, b)) {
        *why = QStringLiteral("a broken binary trailer");
        return false;
    }
    // Each reference costs at least one byte, so an unshared tree has fewer nodes than the
    // file has bytes; this leaves room for shared objects while keeping the copy linear.
    const uint64_t maxNodes = uint64_t(bytes.size()) * 4 + 1024;
    enum : uint8_t { New, Open, Done };
    std::vector<uint8_t> state(b.count, New);
    std::vector<uint64_t> nodes(b.count, 0);
    struct Frame {
        uint64_t index;
        const uint8_t *refs;
        uint64_t n;
        uint64_t next;
        uint64_t nodes;
    };
    std::vector<Frame> path;
    // Scalars and empty containers are finished at once; only containers stay on the path.
    auto enter = [&](uint64_t index) {
        Frame f { index, nullptr, 0, 0, 1 };
        if (!referencesOf(b, index, &f.refs, &f.n))
            return false;
        if (f.n == 0) {
            state[index] = Done;
            nodes[index] = 1;
        } else {
            state[index] = Open;
            path.push_back(f);
        }
        return true;
    };
    const QString unreadable = QStringLiteral("an unreadable or NUL-holding binary object");
    if (!enter(b.top)) {
        *why = unreadable;
        return false;
    }
    while (!path.empty()) {
        if (int(path.size()) > maxDepth) {
            *why = QStringLiteral("nested deeper than %1 levels").arg(maxDepth);
            return false;
        }
        Frame &f = path.back();
        if (f.next == f.n) {
            nodes[f.index] = f.nodes;
            state[f.index] = Done;
            const uint64_t total = f.nodes;
            path.pop_back();
            if (!path.empty())
                path.back().nodes += total;
        } else {
            const uint64_t child = bigEndian(f.refs + f.next * b.refSize, b.refSize);
            ++f.next;
            if (child >= b.count || state[child] == Open) {
                *why = QStringLiteral("a binary reference out of range or to itself");
                return false;
            }
            if (state[child] == New && !enter(child)) {
                *why = unreadable;
                return false;
            }
            // A child entered as a container adds its count when it is done.
            if (state[child] == Done)
                path.back().nodes += nodes[child];
        }
        if (!path.empty() && path.back().nodes > maxNodes) {
            *why = QStringLiteral("binary objects shared into too large a tree");
            return false;
        }
    }
    return true;
}

} // namespace

namespace PlistScreen
{

bool safeToParse(const QByteArray &bytes, int maxDepth, QString *why)
{
    QString reason;
    const bool binary = bytes.size() >= 8 && std::memcmp(bytes.constData(), "bplist00", 8) == 0;
    const bool safe = binary ? binarySafe(bytes, maxDepth, &reason)
                             : xmlSafe(View(bytes.constData(), size_t(bytes.size())), maxDepth, &reason);
    if (why)
        *why = reason;
    return safe;
}

} // namespace PlistScreen
