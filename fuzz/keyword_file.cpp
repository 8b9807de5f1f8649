// The rule-file reader on any bytes (XML or binary property lists); what it reads, the
// writer stores and the reader takes back.
#include "FuzzSupport.h"
#include "ui/KeywordFile.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::setUp();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QString why;
    const std::optional<KeywordRules> rules = KeywordFile::fromBytes(fuzz::bytes(data, size), &why);
    FUZZ_REQUIRE(rules || !why.isEmpty());
    if (!rules)
        return 0;
    const QByteArray xml = KeywordFile::toXml(*rules);
    const std::optional<KeywordRules> back = KeywordFile::fromBytes(xml, &why);
    FUZZ_REQUIRE(back);
    FUZZ_REQUIRE(back->size() == rules->size());
    FUZZ_REQUIRE(KeywordFile::toXml(*back) == xml);
    return 0;
}
