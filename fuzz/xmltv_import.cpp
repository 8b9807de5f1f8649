// The streaming XMLTV import and the normalisation after it, on a document held in memory
// behind a file name (the import reads from a path, as the fetch does).
#include "FuzzSupport.h"
#include "guide/XMLToEPG.h"

#include <sys/mman.h>
#include <unistd.h>

namespace
{
int documentFd = -1;
QString documentPath;
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::setUp();
    documentFd = memfd_create("xmltv", 0);
    if (documentFd < 0)
        std::abort();
    documentPath = QStringLiteral("/proc/self/fd/%1").arg(documentFd);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (ftruncate(documentFd, 0) != 0 || pwrite(documentFd, data, size, 0) != ssize_t(size))
        std::abort();
    XMLToEPG converter;
    QString error;
    bool found = false;
    XMLTVProgrammeList programmes = converter.importXML(documentPath, &error, &found);
    FUZZ_REQUIRE(programmes.empty() || found);
    converter.fixData(programmes);
    for (const XMLTVProgramme &p : programmes) {
        for (const QString &key : XMLTVProgramme::keys())
            (void)p.value(key);
        FUZZ_REQUIRE(p.duration >= 0 || !p.startDate || !p.stopDate || *p.stopDate < *p.startDate);
    }
    (void)XMLToEPG::stringToDate(QString::fromUtf8(fuzz::bytes(data, std::min<size_t>(size, 40))));
    return 0;
}
