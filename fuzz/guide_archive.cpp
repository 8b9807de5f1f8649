// Taking the guide out of a provider's archive: whatever the bytes, only the guide names
// appear in the folder, each a regular file within the size limit.
#include "FuzzSupport.h"
#include "app/GuideArchive.h"

#include <QDir>
#include <QFileInfo>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::setUp();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static QTemporaryDir folder(QDir::tempPath() + QStringLiteral("/pallaro-fuzz-zip-XXXXXX"));
    GuideArchive::Limits limits;
    limits.maxMemberBytes = 1 << 20;
    const QStringList written
        = GuideArchive::extract(fuzz::bytes(data, size), folder.path(), limits);
    const QFileInfoList present
        = QDir(folder.path())
              .entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    FUZZ_REQUIRE(present.size() == written.size());
    for (const QFileInfo &info : present) {
        FUZZ_REQUIRE(written.contains(info.fileName()));
        FUZZ_REQUIRE(GuideArchive::guideNames().contains(info.fileName()));
        FUZZ_REQUIRE(info.isFile() && !info.isSymLink() && info.size() <= limits.maxMemberBytes);
        QFile::remove(info.filePath());
    }
    return 0;
}
