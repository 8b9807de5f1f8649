#include "app/EPGController.h"
#include "base/Paths.h"
#include "base/StatusLog.h"
#include "support/TempHome.h"
#include "ui/SourceListController.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

namespace {

class RecordingKeywords : public KeywordStore {
public:
    void writeOutData() override { calls << "writeOutData"; }
    void reloadData(const QString &mode) override { calls << "reloadData " + mode; }
    QStringList calls;
};

class OutputFolder : public ::testing::Test {
protected:
    OutputFolder()
    {
        controller.setSourceList(&slc);
        controller.setKeywordStore(&keywords);
        QDir().mkpath(out());
    }
    QString out() const { return Paths::outputFolder(); }
    void touch(const QString &relative) { ASSERT_TRUE(writeFile(out() + "/" + relative, "x")); }
    bool exists(const QString &relative) const { return QFileInfo::exists(out() + "/" + relative); }

    TempHome home;
    StatusLog log;
    SourceListController slc;
    RecordingKeywords keywords;
    EPGController controller{&log};
};

TEST(DaySpellings, Conversions)
{
    EXPECT_EQ(EPGController::unFlipDate("20261205.tgd"), "05122026");
    EXPECT_EQ(EPGController::fileNameFromDateString("05122026"), "2026 - 12 - 05");
    EXPECT_EQ(SourceListController::flipName("05122026"), "20261205");
}

TEST_F(OutputFolder, ScanKeepsTodayAndLaterAndDeletesPastDaysWithCompanions)
{
    for (const char *f : {"20261204.tgd", "20261204.html", "20261204.xml", "20261205.tgd",
                          "20261205.html", "20261206.tgd", "kR.zip", "xmltv.xml", "popup.js",
                          "notes.tgd", "sub/20261207.tgd"})
        touch(f);
    controller.loadExistingTGDs(QDate(2026, 12, 5));

    EXPECT_FALSE(exists("20261204.tgd"));
    EXPECT_FALSE(exists("20261204.html"));
    EXPECT_FALSE(exists("20261204.xml"));
    // Not days, or days inside a folder, read as day 0 and count as past.
    EXPECT_FALSE(exists("notes.tgd"));
    EXPECT_FALSE(exists("sub/20261207.tgd"));
    for (const char *kept : {"20261205.tgd", "20261205.html", "20261206.tgd", "kR.zip",
                             "xmltv.xml", "popup.js"})
        EXPECT_TRUE(exists(kept)) << kept;

    const GuideDayRows rows = slc.fileList();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(*rows[0]->rawDate, "20261205.tgd");
    EXPECT_EQ(*rows[0]->date, "05122026");
    EXPECT_EQ(rows[0]->file, "2026 - 12 - 05");
    EXPECT_EQ(rows[0]->downloaded.toFloat(), 100.0f);
    EXPECT_EQ(rows[0]->fileCount, 0);
    EXPECT_EQ(*rows[1]->rawDate, "20261206.tgd");
}

TEST_F(OutputFolder, ScanCarriesCountsOverByDate)
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
    const GuideDayRows rows = slc.fileList();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0]->fileCount, 57);
    EXPECT_EQ(rows[1]->fileCount, 0);
    EXPECT_EQ(rows[2]->fileCount, 0);
}

TEST_F(OutputFolder, DeleteCacheKeepsOnlyTheThreeSupportFiles)
{
    for (const char *f : {"20261205.tgd", "20261205.html", "20261205.xml", "kR.zip", "-",
                          "popup.js", "xmltv2html.css", "xmltv2htmlrc", "deep/er/file"})
        touch(f);
    const QString support = Paths::applicationSupportFolder();
    writeFile(support + "/cache/a/b.dat", "x");
    writeFile(support + "/database/guide.db", "x");
    writeFile(support + "/Keywords.plist", "keep");
    controller.loadExistingTGDs(QDate(2026, 12, 5));
    ASSERT_EQ(slc.fileList().size(), 1u);

    controller.deleteCache();
    QStringList left = QDir(out()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    left.sort();
    EXPECT_EQ(left, QStringList({"popup.js", "xmltv2html.css", "xmltv2htmlrc"}));
    EXPECT_TRUE(QDir(support + "/cache").isEmpty());
    EXPECT_TRUE(QFileInfo(support + "/cache").isDir());
    EXPECT_TRUE(QDir(support + "/database").isEmpty());
    EXPECT_TRUE(QFileInfo::exists(support + "/Keywords.plist"));
    EXPECT_TRUE(slc.fileList().empty());
    EXPECT_EQ(keywords.calls, QStringList{"reloadData NoSave"});
}

TEST_F(OutputFolder, DeleteCacheWithoutCacheFoldersDoesNothingThere)
{
    touch("20261205.tgd");
    controller.deleteCache();
    EXPECT_FALSE(QFileInfo::exists(Paths::applicationSupportFolder() + "/cache"));
    EXPECT_FALSE(exists("20261205.tgd"));
}

} // namespace
