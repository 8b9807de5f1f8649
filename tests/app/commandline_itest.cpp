#include "support/TempHome.h"

#include <QFileInfo>

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

} // namespace
