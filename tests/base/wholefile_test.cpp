#include "base/WholeFile.h"
#include "support/TempHome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace
{

int modeOf(const QString &path)
{
    struct stat st {
    };
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

// What stands at the written path before the write.
enum class Before { Nothing, File0640, LinkToFile, DanglingLink, LinkToFolder };

struct Case {
    const char *name;
    Before before;
    int permissions;
    int expectedMode; // -1: 0666 less the umask
};

class WholeFileWrite : public ::testing::TestWithParam<Case>
{
};

TEST_P(WholeFileWrite, ReplacesWhateverStoodThereAndNeverWritesThrough)
{
    const Case &c = GetParam();
    QTemporaryDir dir;
    const QString data = dir.filePath("data"), outside = dir.filePath("outside");
    ASSERT_TRUE(QDir().mkpath(data) && QDir().mkpath(outside));
    const QString victim = outside + "/victim";
    ASSERT_TRUE(writeFile(victim, "precious"));
    const QString path = data + "/20261210.tgd";
    switch (c.before) {
    case Before::Nothing:
        break;
    case Before::File0640:
        ASSERT_TRUE(writeFile(path, "old"));
        ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0640), 0);
        break;
    case Before::LinkToFile:
        ASSERT_TRUE(QFile::link(victim, path));
        break;
    case Before::DanglingLink:
        ASSERT_TRUE(QFile::link(outside + "/new-file", path));
        break;
    case Before::LinkToFolder:
        ASSERT_TRUE(QFile::link(outside, path));
        break;
    }

    QString why;
    ASSERT_TRUE(writeWholeFile(path, "day file", &why, c.permissions)) << why.toStdString();

    const QFileInfo written(path);
    EXPECT_FALSE(written.isSymLink());
    EXPECT_TRUE(written.isFile());
    EXPECT_EQ(readFile(path), "day file");
    EXPECT_EQ(readFile(victim), "precious");
    EXPECT_EQ(
        QDir(outside).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList { "victim" });
    const mode_t mask = ::umask(022);
    ::umask(mask);
    EXPECT_EQ(modeOf(path), c.expectedMode >= 0 ? c.expectedMode : int(0666 & ~mask));
    // No temporary file is left beside it.
    EXPECT_EQ(QDir(data).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
        QStringList { "20261210.tgd" });
}

INSTANTIATE_TEST_SUITE_P(, WholeFileWrite,
    ::testing::Values(Case { "New", Before::Nothing, -1, -1 },
        Case { "KeepsTheModeOfTheFileReplaced", Before::File0640, -1, 0640 },
        Case { "GivenModeWins", Before::File0640, 0600, 0600 },
        Case { "LinkToAFile", Before::LinkToFile, -1, -1 },
        Case { "DanglingLink", Before::DanglingLink, -1, -1 },
        Case { "LinkToAFolder", Before::LinkToFolder, 0600, 0600 }),
    [](const auto &info) { return std::string(info.param.name); });

TEST(WholeFile, GivingUpOrAFolderInTheWayKeepsTheOldFileAndLeavesNoTemporary)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("kR.zip");
    ASSERT_TRUE(writeFile(path, "good archive"));
    QString why;
    EXPECT_FALSE(writeWholeFile(
        path, [](const WholeFileSink &sink) { return sink("part") && false; }, &why));
    EXPECT_FALSE(why.isEmpty());
    EXPECT_EQ(readFile(path), "good archive");
    ASSERT_TRUE(QDir(dir.path()).mkdir("folder"));
    EXPECT_FALSE(writeWholeFile(dir.filePath("folder"), "x", &why));
    EXPECT_TRUE(why.startsWith(dir.filePath("folder") + ": ")) << why.toStdString();
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
        QStringList({ "folder", "kR.zip" }));
}

TEST(WholeFile, PiecesOfEverySizeArriveInOrder)
{
    QTemporaryDir dir;
    QByteArray expected;
    const QString path = dir.filePath("guide.xml");
    ASSERT_TRUE(writeWholeFile(path, [&expected](const WholeFileSink &sink) {
        for (int size : { 1, 70000, 3, 65536, 0, 200000, 65535 }) {
            const QByteArray piece(size, char('a' + size % 26));
            expected += piece;
            if (!sink(piece))
                return false;
        }
        return true;
    }));
    EXPECT_EQ(readFile(path), expected);
}

} // namespace
