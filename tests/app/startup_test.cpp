// Start-up and the output folder: the sweep of interrupted writes, and the scan that throws
// out past days.
#include "base/Clock.h"
#include "support/AppFixture.h"

#include <QDir>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <sys/time.h>

namespace
{

class StartUp : public AppFixture, public ::testing::Test
{
protected:
    void touch(const QString &relative) { ASSERT_TRUE(writeFile(out() + "/" + relative, "x")); }
    // A file last written `seconds` before the test's clock.
    void touchAged(const QString &relative, int seconds)
    {
        touch(relative);
        QFile file(out() + "/" + relative);
        ASSERT_TRUE(file.open(QIODevice::Append));
        ASSERT_TRUE(file.setFileTime(Clock::now().addSecs(-seconds), QFile::FileModificationTime));
    }
    bool exists(const QString &relative) const { return QFileInfo::exists(out() + "/" + relative); }
};

// A writer killed between linking its temporary file and renaming it leaves it behind.
TEST_F(StartUp, RemovesInterruptedWritesAndNothingElse)
{
    const QStringList leftovers = { "20991205.tgd.AbCdEf", "20991205.xml.x1Y2z3", "kR.zip.QwErTy",
        "20991205.html.AbCdEf", ".unpacked-StUvWx/xmltv.xml" };
    const QStringList others = { "20991205.tgd", "20991205.tgd.AbCdE", "20991205.tgd.AbCdEfG",
        "20991205.tgd.AbC-Ef", "notes.tgd.AbCdEf", "2099120.tgd.AbCdEf", "popup.js.AbCdEf",
        "20991205.tgd.AbCdEf.x", ".unpacked-StUvW/xmltv.xml" };
    for (const QString &f : leftovers + others) {
        touchAged(f, 3600);
        // The fetch's unpacking folder counts by its own time.
        const qint64 hourAgo = Clock::now().toSecsSinceEpoch() - 3600;
        const timeval times[2] = { { hourAgo, 0 }, { hourAgo, 0 } };
        const QString folder = QFileInfo(out() + "/" + f).path();
        ASSERT_EQ(::utimes(QFile::encodeName(folder).constData(), times), 0);
    }
    // One still being written, maybe by another instance, and a folder.
    touchAged("20991206.tgd.GhIjKl", 60);
    ASSERT_TRUE(QDir(out()).mkpath("20991207.tgd.MnOpQr"));

    controller.awakeFromNib();
    for (const QString &f : leftovers)
        EXPECT_FALSE(exists(f)) << f.toStdString();
    for (const QString &f : others + QStringList { "20991206.tgd.GhIjKl", "20991207.tgd.MnOpQr" })
        EXPECT_TRUE(exists(f)) << f.toStdString();
    EXPECT_TRUE(syslog.lines().contains("Removing an interrupted write: kR.zip.QwErTy"));
    EXPECT_FALSE(exists(".unpacked-StUvWx"));
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

} // namespace
