#include "support/TempHome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <gtest/gtest.h>

namespace {

QStringList envFor(const TempHome &home)
{
    return {"HOME=" + home.path(), "XDG_DATA_HOME=" + home.path() + "/.local/share",
            "XDG_CONFIG_HOME=" + home.path() + "/.config"};
}

TEST(CommandLine, GetPrintsDefaultsInAnEmptyHome)
{
    TempHome home;
    QString out;
    ASSERT_EQ(runPallaro({"--get", "location"}, envFor(home), &out), 0);
    EXPECT_EQ(out, "Sydney\n");
    ASSERT_EQ(runPallaro({"--get", "uploadFolder"}, envFor(home), &out), 0);
    EXPECT_EQ(out, "ProgramFiles\n");
    ASSERT_EQ(runPallaro({"--get", "generateGrid"}, envFor(home), &out), 0);
    EXPECT_EQ(out, "NO\n");
}

TEST(CommandLine, SetWritesTypedValuesThatGetReadsBack)
{
    TempHome home;
    QString out, err;
    ASSERT_EQ(runPallaro({"--set", "uploadFolder=DataFiles,EPG"}, envFor(home), &out), 0);
    ASSERT_EQ(runPallaro({"--set", "location=Northern NSW (North)"}, envFor(home), &out), 0);
    ASSERT_EQ(runPallaro({"--set", "autoRunTime=06:05"}, envFor(home), &out), 0);
    ASSERT_EQ(runPallaro({"--get", "uploadFolder"}, envFor(home), &out), 0);
    EXPECT_EQ(out, "DataFiles,EPG\n");
    ASSERT_EQ(runPallaro({"--get", "location"}, envFor(home), &out), 0);
    EXPECT_EQ(out, "Northern NSW (North)\n");
    ASSERT_EQ(runPallaro({"--get", "autoRunTime"}, envFor(home), &out), 0);
    EXPECT_EQ(out, "06:05\n");

    EXPECT_NE(runPallaro({"--set", "keywordPadStart=soon"}, envFor(home), &out, &err), 0);
    EXPECT_TRUE(err.contains("keywordPadStart")) << err.toStdString();
    EXPECT_NE(runPallaro({"--get", "colour"}, envFor(home), &out, &err), 0);
    EXPECT_TRUE(err.contains("unknown setting")) << err.toStdString();
    EXPECT_NE(runPallaro({"--bogus"}, envFor(home), &out, &err), 0);
}

TEST(CommandLine, HeadlessStartUpMakesTheFolderLayoutAndExitsZero)
{
    TempHome home;
    QString out;
    ASSERT_EQ(runPallaro({"--headless"}, envFor(home), &out), 0) << out.toStdString();
    const QString support = home.supportFolder();
    for (const char *entry : {"channelmap.ini", "PallaroScript.scpt", "channels", "output",
                              "output/popup.js", "output/xmltv2html.css", "output/xmltv2htmlrc"})
        EXPECT_TRUE(QFileInfo::exists(support + "/" + entry)) << entry;
}

TEST(CommandLine, HelpListsEveryOption)
{
    QString out;
    ASSERT_EQ(runPallaro({"--help"}, {}, &out), 0);
    for (const char *option : {"--headless", "--get", "--set", "--help"})
        EXPECT_TRUE(out.contains(option)) << option;
}

// The window lives in a program of its own; the command line must run without it.
TEST(WindowHandoff, CommandLineRunsLoadNoWindowLibrary)
{
    QString out;
    ASSERT_EQ(runPallaro({}, {"LD_TRACE_LOADED_OBJECTS=1"}, &out), 0);
    EXPECT_TRUE(out.contains("libQt6Core")) << out.toStdString();
    for (const char *library : {"Widgets", "WebEngine", "libQt6Gui"})
        EXPECT_FALSE(out.contains(library)) << library;
}

// A window run is handed to the window program beside the command as it was started (not
// beside the build), which learns the command's own path for the scheduled-run units.
TEST(WindowHandoff, WindowRunExecsTheProgramBesideTheCommand)
{
    TempHome home;
    const QString pallaro = home.path() + "/bin/pallaro";
    ASSERT_TRUE(QDir().mkpath(home.path() + "/bin"));
    ASSERT_TRUE(QFile::copy(qEnvironmentVariable("PALLARO_EXECUTABLE"), pallaro));
    ASSERT_TRUE(writeFile(home.path() + "/bin/pallaro-window",
                          "#!/bin/sh\necho \"window:$*:$PALLARO_COMMAND\"\nexit 7\n"));
    QFile::setPermissions(home.path() + "/bin/pallaro-window",
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QProcess p;
    p.start(pallaro, QStringList());
    ASSERT_TRUE(p.waitForFinished(30000));
    EXPECT_EQ(p.exitCode(), 7);
    EXPECT_EQ(QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed(),
              "window::" + pallaro);
}

} // namespace
