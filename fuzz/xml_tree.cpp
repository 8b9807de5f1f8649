// The XML tree over arbitrary bytes: parse, walk every node and every accessor, and run the
// tree-based guide import on it.
#include "FuzzSupport.h"
#include "guide/XMLToEPG.h"
#include "guide/XMLTree.h"

#include <cstdio>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::setUp();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::optional<XMLTree> doc = XMLTree::treeWithData(fuzz::bytes(data, size));
    if (!doc)
        return 0;
    // Iteratively, so a deep document tests the tree, not this walk.
    std::vector<XMLTree> pending { *doc };
    int visited = 0;
    while (!pending.empty() && visited < 20000) {
        const XMLTree node = pending.back();
        pending.pop_back();
        ++visited;
        (void)node.name();
        (void)node.type();
        (void)node.attributes();
        (void)node.attributeNamed("id");
        (void)node.description();
        (void)node.childNamed(QStringLiteral("title"));
        (void)node.childNamed(QStringLiteral("channel"), QStringLiteral("id"), QStringLiteral("x"));
        const int n = node.count();
        const std::vector<XMLTree> children = node.children();
        FUZZ_REQUIRE(n < 0 || size_t(n) == children.size());
        for (int i = 0; i < n; ++i)
            FUZZ_REQUIRE(node.childAtIndex(i).has_value());
        FUZZ_REQUIRE(!node.childAtIndex(n).has_value());
        if (const auto parent = node.parent(); parent && node.type() != XMLTree::Document)
            FUZZ_REQUIRE(!parent->isNull());
        pending.insert(pending.end(), children.begin(), children.end());
    }
    (void)doc->xml();
    (void)doc->descendentNamed(QStringLiteral("programme"));
    (void)doc->xpath(QStringLiteral("//programme[@channel]/title"));
    bool found = false;
    XMLToEPG converter;
    XMLTVProgrammeList programmes = converter.importTree(*doc, &found);
    converter.fixData(programmes);
    return 0;
}
