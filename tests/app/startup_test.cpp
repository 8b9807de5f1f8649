#include "app/EPGController.h"
#include "base/Paths.h"
#include "base/Settings.h"
#include "base/StatusLog.h"
#include "support/TempHome.h"
#include "ui/SourceListController.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const QStringList kSupportCopies = {"channelmap.ini", "PallaroScript.scpt"};
const QStringList kOutputCopies = {"popup.js", "xmltv2html.css", "xmltv2htmlrc"};

// A program folder holding the five start-up resources (or a chosen subset).
class ProgramFolder {
public:
    explicit ProgramFolder(const QStringList &files = kSupportCopies + kOutputCopies)
    {
        for (const QString &f : files)
            writeFile(dir.path() + "/" + f, "shipped " + f.toUtf8());
        Paths::setProgramFolder(dir.path());
    }
    ~ProgramFolder() { Paths::setProgramFolder({}); }
    QTemporaryDir dir;
};

struct Launch {
    StatusLog log;
    SourceListController slc;
    EPGController controller{&log};
    Launch()
    {
        controller.setSourceList(&slc);
        controller.awakeFromNib();
    }
};

TEST(StartUp, FirstLaunchMakesTheFoldersAndCopiesTheFiveResources)
{
    TempHome home;
    ProgramFolder program;
    ASSERT_FALSE(QFileInfo::exists(home.supportFolder()));
    Launch launch;

    const QString support = home.supportFolder();
    EXPECT_EQ(Paths::applicationSupportFolder(), support);
    EXPECT_TRUE(QFileInfo(support + "/output").isDir());
    EXPECT_TRUE(QFileInfo(support + "/channels").isDir());
    for (const QString &f : kSupportCopies)
        EXPECT_EQ(readFile(support + "/" + f), "shipped " + f.toUtf8()) << f.toStdString();
    for (const QString &f : kOutputCopies)
        EXPECT_EQ(readFile(support + "/output/" + f), "shipped " + f.toUtf8()) << f.toStdString();
    EXPECT_EQ(launch.controller.currentOutputFolder(), "output");
    EXPECT_TRUE(launch.log.text().isEmpty());
}

TEST(StartUp, AnEditedCopySurvivesTheNextLaunch)
{
    TempHome home;
    ProgramFolder program;
    { Launch first; }
    const QString css = home.supportFolder() + "/output/xmltv2html.css";
    ASSERT_TRUE(writeFile(css, "body { color: red; }"));
    { Launch second; }
    EXPECT_EQ(readFile(css), "body { color: red; }");
}

TEST(StartUp, AResourceMissingFromTheProgramFolderIsSkipped)
{
    TempHome home;
    ProgramFolder program({"channelmap.ini", "popup.js", "xmltv2htmlrc"});
    Launch launch;
    const QString support = home.supportFolder();
    EXPECT_TRUE(QFileInfo::exists(support + "/channelmap.ini"));
    EXPECT_FALSE(QFileInfo::exists(support + "/PallaroScript.scpt"));
    EXPECT_FALSE(QFileInfo::exists(support + "/output/xmltv2html.css"));
    EXPECT_TRUE(QFileInfo::exists(support + "/output/xmltv2htmlrc"));
}

TEST(StartUp, CopyFileNeverOverwritesAndNeedsASource)
{
    QTemporaryDir from, to;
    writeFile(from.path() + "/a.txt", "new");
    writeFile(to.path() + "/a.txt", "old");
    EXPECT_FALSE(EPGController::copyFile("a.txt", from.path() + "/", to.path()));
    EXPECT_EQ(readFile(to.path() + "/a.txt"), "old");
    EXPECT_FALSE(EPGController::copyFile("missing.txt", from.path() + "/", to.path()));
    writeFile(from.path() + "/b.txt", "b");
    EXPECT_TRUE(EPGController::copyFile("b.txt", from.path() + "/", to.path()));
    EXPECT_EQ(readFile(to.path() + "/b.txt"), "b");
}

TEST(StartUp, TheBuiltProgramFolderHoldsEveryShippedResource)
{
    const QString share = QStringLiteral(PALLARO_BINARY_DIR) + "/share/pallaro/";
    for (const QString &f : kSupportCopies + kOutputCopies)
        EXPECT_TRUE(QFileInfo::exists(share + f)) << f.toStdString();
    EXPECT_TRUE(QFileInfo::exists(share + "resources/header.xml"));
}

class RecordingCollaborators : public KeywordStore, public AutoRunScheduler {
public:
    void writeOutData() override { calls << "writeOutData"; }
    void reloadData(const QString &mode) override { calls << "reloadData " + mode; }
    void setAutoRun(bool on) override { calls << QString("setAutoRun %1").arg(on); }
    QStringList calls;
};

TEST(StartUp, ClosingPreferencesAppliesAutoRunAndTerminationWritesOut)
{
    TempHome home;
    ProgramFolder program;
    RecordingCollaborators rec;
    Launch launch;
    launch.controller.setScheduler(&rec);
    launch.controller.setKeywordStore(&rec);

    launch.controller.closePrefsSheet();
    Settings::setValue("autoRun", true);
    launch.controller.closePrefsSheet();
    launch.controller.applicationWillTerminate();
    EXPECT_EQ(rec.calls, QStringList({"setAutoRun 0", "setAutoRun 1", "writeOutData"}));
}

} // namespace
