// The TGD day-file reader and re-writer: what it writes it must read back the same.
#include "FuzzSupport.h"
#include "guide/TGDFile.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::setUp();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString day = QStringLiteral("20070312");
    TGDFile file;
    const int n = file.loadTGDData(fuzz::bytes(data, size), day, false);
    FUZZ_REQUIRE(n == int(file.getFileData().size()));
    const QByteArray written = file.dataToTGDForDate(day);
    TGDFile again;
    FUZZ_REQUIRE(again.loadTGDData(written, day, false) == n);
    FUZZ_REQUIRE(again.dataToTGDForDate(day) == written);
    for (const TGDEntryPtr &e : file.getFileData())
        for (const QString &key : TGDEntry::keys())
            (void)e->value(key);
    return 0;
}
