// Start-up and the output folder: the data folders and resource copies, the scan that
// throws out past days, the sweep of interrupted writes, and the delete-cache action.
#include "base/Paths.h"
#include "base/Settings.h"
#include "support/AppFixture.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const QStringList kSupportCopies = { "channelmap.ini", "PallaroScript.scpt" };
const QStringList kOutputCopies = { "popup.js", "xmltv2html.css", "xmltv2htmlrc" };

class StartUp : public AppFixture, public ::testing::Test {
protected:
    // Ships `files` in the program folder.
    void ship(const QStringList &files = kSupportCopies + kOutputCopies)
    {
        for (const QString &f : files)
            writeFile(program.path() + "/" + f, "shipped " + f.toUtf8());
        Paths::setProgramFolder(program.path());
    }
    void touch(const QString &relative) { ASSERT_TRUE(writeFile(out() + "/" + relative, "x")); }
    bool exists(const QString &relative) const { return QFileInfo::exists(out() + "/" + relative); }
    QString support() const { return home.supportFolder(); }

    QTemporaryDir program;
};

TEST_F(StartUp, FirstLaunchMakesTheFoldersAndCopiesTheFiveResources)
{
    ship();
    ASSERT_FALSE(QFileInfo::exists(support()));
    controller.awakeFromNib();

    EXPECT_EQ(Paths::applicationSupportFolder(), support());
    EXPECT_TRUE(QFileInfo(support() + "/channels").isDir());
    for (const QString &f : kSupportCopies)
        EXPECT_EQ(readFile(support() + "/" + f), "shipped " + f.toUtf8()) << f.toStdString();
    for (const QString &f : kOutputCopies)
        EXPECT_EQ(readFile(out() + "/" + f), "shipped " + f.toUtf8()) << f.toStdString();
    EXPECT_EQ(controller.currentOutputFolder(), "output");
    EXPECT_TRUE(log.text().isEmpty());
}

TEST_F(StartUp, AMissingResourceIsSkippedAndACopyIsNeverOverwritten)
{
    ship({ "channelmap.ini", "popup.js", "xmltv2htmlrc" });
    controller.awakeFromNib();
    EXPECT_TRUE(QFileInfo::exists(support() + "/channelmap.ini"));
    EXPECT_FALSE(QFileInfo::exists(support() + "/PallaroScript.scpt"));
    EXPECT_FALSE(exists("xmltv2html.css"));
    ASSERT_TRUE(writeFile(out() + "/xmltv2htmlrc", "edited"));

    ship();
    controller.awakeFromNib();
    EXPECT_EQ(readFile(out() + "/xmltv2htmlrc"), "edited");
    EXPECT_TRUE(exists("xmltv2html.css"));
}

TEST_F(StartUp, TheBuiltProgramFolderHoldsEveryShippedResource)
{
    const QString share = QStringLiteral(PALLARO_BINARY_DIR) + "/share/pallaro/";
    for (const QString &f : kSupportCopies + kOutputCopies + QStringList { "resources/header.xml" })
        EXPECT_TRUE(QFileInfo::exists(share + f)) << f.toStdString();
}

// A writer killed between linking its temporary file and renaming it leaves it behind.
TEST_F(StartUp, RemovesInterruptedWritesAndNothingElse)
{
    const QStringList leftovers = { "20991205.tgd.AbCdEf", "20991205.xml.x1Y2z3", "kR.zip.QwErTy" };
    const QStringList others = { "20991205.tgd", "20991205.tgd.AbCdE", "20991205.tgd.AbCdEfG",
        "20991205.tgd.AbC-Ef", "notes.tgd.AbCdEf", "2099120.tgd.AbCdEf", "20991205.html.AbCdEf",
        "20991205.tgd.AbCdEf.x" };
    for (const QString &f : leftovers + others) {
        touch(f);
        QFile file(out() + "/" + f);
        ASSERT_TRUE(file.open(QIODevice::Append));
        file.setFileTime(QDateTime::currentDateTime().addSecs(-3600), QFile::FileModificationTime);
    }
    // One still being written, maybe by another instance, and a folder.
    touch("20991206.tgd.GhIjKl");
    ASSERT_TRUE(QDir(out()).mkpath("20991207.tgd.MnOpQr"));

    controller.awakeFromNib();
    for (const QString &f : leftovers)
        EXPECT_FALSE(exists(f)) << f.toStdString();
    for (const QString &f : others + QStringList { "20991206.tgd.GhIjKl", "20991207.tgd.MnOpQr" })
        EXPECT_TRUE(exists(f)) << f.toStdString();
    EXPECT_TRUE(syslog.lines().contains("Removing an interrupted write: kR.zip.QwErTy"));
}

TEST_F(StartUp, ScanKeepsTodayAndLaterAndDeletesPastDaysWithCompanions)
{
    for (const char *f :
        { "20261204.tgd", "20261204.html", "20261204.xml", "20261205.tgd", "20261205.html",
            "20261206.tgd", "kR.zip", "xmltv.xml", "popup.js", "notes.tgd", "sub/20261207.tgd" })
        touch(f);
    controller.loadExistingTGDs(QDate(2026, 12, 5));

    // Not days, or days inside a folder, read as day 0 and count as past.
    for (const char *gone :
        { "20261204.tgd", "20261204.html", "20261204.xml", "notes.tgd", "sub/20261207.tgd" })
        EXPECT_FALSE(exists(gone)) << gone;
    for (const char *kept :
        { "20261205.tgd", "20261205.html", "20261206.tgd", "kR.zip", "xmltv.xml", "popup.js" })
        EXPECT_TRUE(exists(kept)) << kept;

    const GuideDayRows rows = slc.fileList();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(std::make_tuple(*rows[0]->rawDate, *rows[0]->date, rows[0]->file,
                  rows[0]->downloaded.toFloat(), rows[0]->fileCount),
        std::make_tuple(
            QString("20261205.tgd"), QString("05122026"), QString("2026 - 12 - 05"), 100.0f, 0));
    EXPECT_EQ(*rows[1]->rawDate, "20261206.tgd");
}

TEST_F(StartUp, ScanCarriesCountsOverByDate)
{
    touch("20261205.tgd");
    touch("20261206.tgd");
    controller.loadExistingTGDs(QDate(2026, 12, 5));
    slc.setCount(57, "20261205");
    // A placeholder row without "date" matches nothing.
    auto placeholder = std::make_shared<GuideDayRow>();
    placeholder->file = "Loading...";
    placeholder->fileCount = 99;
    GuideDayRows withPlaceholder = slc.fileList();
    withPlaceholder.push_back(placeholder);
    slc.setFileList(withPlaceholder);
    touch("20261207.tgd");

    controller.loadExistingTGDs(QDate(2026, 12, 5));
    std::vector<int> counts;
    for (const GuideDayRowPtr &row : slc.fileList())
        counts.push_back(row->fileCount);
    EXPECT_EQ(counts, (std::vector<int> { 57, 0, 0 }));
}

TEST_F(StartUp, DeleteCacheKeepsOnlyTheThreeSupportFiles)
{
    for (const char *f : { "20261205.tgd", "20261205.html", "20261205.xml", "kR.zip", "-",
             "popup.js", "xmltv2html.css", "xmltv2htmlrc", "deep/er/file" })
        touch(f);
    writeFile(support() + "/cache/a/b.dat", "x");
    writeFile(support() + "/database/guide.db", "x");
    writeFile(support() + "/Keywords.plist", "keep");
    controller.loadExistingTGDs(QDate(2026, 12, 5));
    ASSERT_EQ(slc.fileList().size(), 1u);

    controller.deleteCache();
    EXPECT_EQ(
        QDir(out()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name),
        kOutputCopies);
    EXPECT_TRUE(QDir(support() + "/cache").isEmpty() && QFileInfo(support() + "/cache").isDir());
    EXPECT_TRUE(QDir(support() + "/database").isEmpty());
    EXPECT_TRUE(QFileInfo::exists(support() + "/Keywords.plist"));
    EXPECT_TRUE(slc.fileList().empty());
    EXPECT_EQ(rec.calls, QStringList { "reloadData NoSave" });
    // Without the scripts' folders there is nothing to empty, and none is made.
    QDir(support() + "/cache").removeRecursively();
    controller.deleteCache();
    EXPECT_FALSE(QFileInfo::exists(support() + "/cache"));
}

} // namespace
