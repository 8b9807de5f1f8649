#include "app/GuideArchive.h"
#include "support/TempHome.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace
{

struct Entry {
    QByteArray name;
    QByteArray content; // for a link: its target
    mode_t type = AE_IFREG;
};

QByteArray zipOf(const std::vector<Entry> &entries)
{
    QByteArray buffer(8 << 20, '\0');
    size_t used = 0;
    archive *a = archive_write_new();
    archive_write_set_format_zip(a);
    archive_write_open_memory(a, buffer.data(), size_t(buffer.size()), &used);
    for (const Entry &e : entries) {
        archive_entry *entry = archive_entry_new();
        archive_entry_set_pathname(entry, e.name.constData());
        archive_entry_set_filetype(entry, e.type);
        archive_entry_set_perm(entry, 0644);
        if (e.type == AE_IFLNK)
            archive_entry_set_symlink(entry, e.content.constData());
        else
            archive_entry_set_size(entry, e.type == AE_IFREG ? e.content.size() : 0);
        archive_write_header(a, entry);
        if (e.type == AE_IFREG)
            archive_write_data(a, e.content.constData(), size_t(e.content.size()));
        archive_entry_free(entry);
    }
    archive_write_close(a);
    archive_write_free(a);
    buffer.truncate(qsizetype(used));
    return buffer;
}

QStringList entriesOf(const QString &folder)
{
    return QDir(folder).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

const QByteArray kGuide = "<tv><programme channel=\"ABC\"/></tv>\n";

struct Case {
    const char *name;
    std::vector<Entry> entries;
    QStringList written;
    const char *why; // the start of the reason when nothing is written
};

class GuideArchiveExtract : public ::testing::TestWithParam<Case>
{
};

TEST_P(GuideArchiveExtract, WritesOnlyTheGuideMembersUnderTheirOwnNames)
{
    const Case &c = GetParam();
    QTemporaryDir folder;
    GuideArchive::Limits limits;
    limits.maxMemberBytes = 1024;
    QString why;
    const QStringList written
        = GuideArchive::extract(zipOf(c.entries), folder.path(), limits, &why);
    EXPECT_EQ(written, c.written);
    QStringList present = entriesOf(folder.path()), expected = c.written;
    present.sort();
    expected.sort();
    EXPECT_EQ(present, expected) << why.toStdString();
    for (const QString &name : written)
        EXPECT_EQ(readFile(folder.path() + "/" + name), name == "-" ? "dash" : kGuide);
    if (written.isEmpty()) {
        EXPECT_TRUE(why.startsWith(c.why)) << why.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(, GuideArchiveExtract,
    ::testing::Values(
        Case { "TheGuide", { { "notes.txt", "x" }, { "xmltv.xml", kGuide } }, { "xmltv.xml" }, "" },
        Case { "BothNamesInReadingOrder", { { "-", "dash" }, { "xmltv.xml", kGuide } },
            { "xmltv.xml", "-" }, "" },
        Case { "TheFirstOfTwoWins", { { "xmltv.xml", kGuide }, { "xmltv.xml", "second" } },
            { "xmltv.xml" }, "" },
        Case { "LinkIsPassedOver", { { "xmltv.xml", "/etc/passwd", AE_IFLNK } }, {},
            "the archive's \"xmltv.xml\" is not a regular file" },
        Case {
            "FolderIsPassedOver", { { "xmltv.xml", "", AE_IFDIR } }, {}, "the archive holds no" },
        Case { "OtherPlacesAreNotTheGuide",
            { { "../xmltv.xml", kGuide }, { "/xmltv.xml", kGuide }, { "sub/xmltv.xml", kGuide },
                { "./xmltv.xml", kGuide }, { "XMLTV.XML", kGuide }, { "popup.js", "js" } },
            {},
            "the archive holds no \"xmltv.xml\", only \"../xmltv.xml\", \"/xmltv.xml\", "
            "\"sub/xmltv.xml\" and 3 more" },
        Case { "Empty", {}, {}, "the archive is empty" },
        Case { "LargerThanTheLimit", { { "-", "dash" }, { "xmltv.xml", QByteArray(2000, 'x') } },
            {}, "the guide in the archive is larger than" }),
    [](const auto &info) { return std::string(info.param.name); });

TEST(GuideArchive, BrokenOrStoppedExtractionLeavesNothing)
{
    QTemporaryDir folder;
    const QByteArray zip = zipOf({ { "xmltv.xml", QByteArray(100000, 'g') } });
    QString why;
    EXPECT_TRUE(GuideArchive::extract("<html>Service unavailable</html>", folder.path(), {}, &why)
                    .isEmpty());
    EXPECT_TRUE(why.startsWith("not a zip archive")) << why.toStdString();
    EXPECT_TRUE(GuideArchive::extract(zip.left(zip.size() / 2), folder.path(), {}, &why).isEmpty());
    EXPECT_FALSE(why.isEmpty());
    std::atomic<bool> stop = true;
    GuideArchive::Limits stopped;
    stopped.cancel = &stop;
    EXPECT_TRUE(GuideArchive::extract(zip, folder.path(), stopped, &why).isEmpty());
    EXPECT_EQ(why, "stopped");
    EXPECT_TRUE(entriesOf(folder.path()).isEmpty());
}

// A pipe or a link standing in the archive's place is not read: one would block the
// fetch, the other could lead anywhere.
TEST(GuideArchive, OnlyARegularArchiveFileIsRead)
{
    QTemporaryDir dir;
    const QString folder = dir.path() + "/unpacked";
    QDir().mkpath(folder);
    const QString real = dir.path() + "/real.zip";
    ASSERT_TRUE(writeFile(real, zipOf({ { "xmltv.xml", kGuide } })));
    EXPECT_EQ(GuideArchive::extractFile(real, folder, {}), QStringList { "xmltv.xml" });
    QFile::remove(folder + "/xmltv.xml");
    ASSERT_TRUE(QFile::link(real, dir.path() + "/link.zip"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(dir.path() + "/pipe.zip").constData(), 0600), 0);
    for (const char *name : { "/link.zip", "/pipe.zip", "/missing.zip" }) {
        QString why;
        EXPECT_TRUE(GuideArchive::extractFile(dir.path() + name, folder, {}, &why).isEmpty());
        EXPECT_TRUE(why.startsWith(dir.path() + name)) << why.toStdString();
    }
    EXPECT_TRUE(entriesOf(folder).isEmpty());
}

// Damaged archives of every kind: whatever the bytes, only the guide names appear.
TEST(GuideArchive, DamagedArchivesWriteNothingButTheGuideNames)
{
    const QByteArray zip = zipOf({ { "../x.xml", "up" }, { "xmltv.xml", kGuide },
        { "link", "/etc", AE_IFLNK }, { "-", "dash" }, { "d", "", AE_IFDIR } });
    QRandomGenerator random(24);
    QTemporaryDir folder;
    for (int round = 0; round < 2000; ++round) {
        QByteArray damaged = zip;
        for (int flips = 1 + random.bounded(8); flips > 0; --flips)
            damaged[random.bounded(damaged.size())] = char(random.bounded(256));
        if (random.bounded(4) == 0)
            damaged.truncate(random.bounded(damaged.size()));
        const QStringList written = GuideArchive::extract(damaged, folder.path(), {});
        QStringList present = entriesOf(folder.path());
        present.sort();
        QStringList expected = written;
        expected.sort();
        ASSERT_EQ(present, expected) << round;
        for (const QString &name : written)
            QFile::remove(folder.path() + "/" + name);
    }
}

} // namespace
