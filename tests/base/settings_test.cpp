#include "base/Settings.h"
#include "support/SydneyTime.h"
#include "support/TempHome.h"

#include <QTimeZone>
#include <gtest/gtest.h>

namespace
{

TEST(Settings, CommandLineTextFormsRoundTrip)
{
    const LocalZone sydney;
    EXPECT_EQ(Settings::parseText("uploadFolder", "DataFiles, EPG")->toStringList(),
        QStringList({ "DataFiles", "EPG" }));
    EXPECT_EQ(
        Settings::formatText("uploadFolder", QStringList({ "DataFiles", "EPG" })), "DataFiles,EPG");
    EXPECT_EQ(Settings::parseText("autoRun", "YES")->toBool(), true);
    EXPECT_EQ(Settings::parseText("autoRun", "no")->toBool(), false);
    EXPECT_FALSE(Settings::parseText("autoRun", "maybe"));
    EXPECT_FALSE(Settings::parseText("keywordPadEnd", "ten"));
    EXPECT_FALSE(Settings::parseText("autoRunTime", "25:00"));
    EXPECT_FALSE(Settings::parseText("no such key", "x"));
    const QVariant t = *Settings::parseText("autoRunTime", "06:05");
    EXPECT_EQ(Settings::formatText("autoRunTime", t), "06:05");
    // The registered default, midnight UTC on 1 January 2001, is 11:00 in Sydney's summer.
    EXPECT_EQ(Settings::formatText(
                  "autoRunTime", QDateTime(QDate(2001, 1, 1), QTime(0, 0), QTimeZone::utc())),
        "11:00");
}

} // namespace
