#include "support/TempHome.h"

#include <gtest/gtest.h>

namespace
{

// The child inherits the fresh home that TempHome points the environment at.
TEST(CommandLine, GetPrintsDefaultsAndReadsBackWhatSetWrote)
{
    TempHome home;
    QString out, err;
    const struct {
        const char *key, *fallback, *value;
    } rows[] = {
        { "location", "Sydney", "Northern NSW (North)" },
        { "uploadFolder", "ProgramFiles", "DataFiles,EPG" }, { "generateGrid", "NO", "YES" },
        { "autoRunTime", nullptr, "06:05" }, // its default depends on the local zone
    };
    for (const auto &row : rows) {
        if (row.fallback) {
            ASSERT_EQ(runPallaro({ "--get", row.key }, {}, &out), 0) << row.key;
            EXPECT_EQ(out, QString(row.fallback) + "\n");
        }
        ASSERT_EQ(runPallaro({ "--set", QString(row.key) + "=" + row.value }, {}, &out), 0);
        ASSERT_EQ(runPallaro({ "--get", row.key }, {}, &out), 0) << row.key;
        EXPECT_EQ(out, QString(row.value) + "\n");
    }

    EXPECT_NE(runPallaro({ "--set", "keywordPadStart=soon" }, {}, &out, &err), 0);
    EXPECT_TRUE(err.contains("keywordPadStart")) << err.toStdString();
    EXPECT_NE(runPallaro({ "--get", "colour" }, {}, &out, &err), 0);
    EXPECT_TRUE(err.contains("unknown setting")) << err.toStdString();
    EXPECT_NE(runPallaro({ "--bogus" }, {}, &out, &err), 0);
}

TEST(CommandLine, HelpListsEveryOption)
{
    QString out;
    ASSERT_EQ(runPallaro({ "--help" }, {}, &out), 0);
    for (const char *option : { "--headless", "--reload", "--download", "--get KEY",
             "--set KEY=VALUE", "--convert XMLTV_FILE OUTPUT_FOLDER", "--xml", "--upload",
             "--pvr-sim FOLDER", "--help" })
        EXPECT_TRUE(out.contains(option)) << option;
}

} // namespace
