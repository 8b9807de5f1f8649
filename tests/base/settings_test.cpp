#include "base/Settings.h"
#include "support/TempHome.h"

#include <QSettings>
#include <QTimeZone>
#include <ctime>
#include <gtest/gtest.h>

namespace {

TEST(Settings, AFreshStoreReadsEveryRegisteredDefaultWithoutStoringIt)
{
    TempHome home;
    Settings::registerDefaults();
    const std::pair<const char *, QVariant> defaults[] = { { "location", "Sydney" },
        { "connectionMethod", "USB" }, { "provider", "" }, { "FTP URL", "" },
        { "uploadFolder", QStringList { "ProgramFiles" } }, { "keywordPadStart", 0 },
        { "keywordPadEnd", 0 }, { "useOldStyleNames", false }, { "generateGrid", false },
        { "autoRun", false }, { "CFPreferencesWritesXML", true },
        { "autoRunTime", QDateTime(QDate(2001, 1, 1), QTime(0, 0), QTimeZone::utc()) } };
    for (const auto &[key, value] : defaults)
        EXPECT_EQ(Settings::value(key), value) << key;
    // The two unregistered keys.
    EXPECT_FALSE(Settings::value("daysToLoad").isValid());
    EXPECT_EQ(Settings::integer("PublishTimeout"), 0);
    for (const Settings::Definition &d : Settings::table())
        (void)Settings::value(d.key);
    Settings::synchronize();
    QSettings store("Pallaro", "Pallaro");
    EXPECT_TRUE(store.allKeys().isEmpty()) << store.allKeys().join(",").toStdString();
}

TEST(Settings, StoredValuesComeBackWithTheirTypes)
{
    TempHome home;
    Settings::registerDefaults();
    Settings::setValue("uploadFolder", QStringList { "DataFiles" });
    Settings::setValue("generateGrid", true);
    Settings::setValue("keywordPadStart", 5);
    Settings::setValue("PublishTimeout", 30);
    Settings::synchronize();
    // A one-element list and numbers survive the text store as their own types.
    EXPECT_EQ(Settings::stringList("uploadFolder"), QStringList { "DataFiles" });
    EXPECT_EQ(Settings::value("generateGrid").typeId(), QMetaType::Bool);
    EXPECT_TRUE(Settings::boolean("generateGrid"));
    EXPECT_EQ(Settings::value("keywordPadStart"), QVariant(5));
    EXPECT_EQ(Settings::integer("PublishTimeout"), 30);
}

TEST(Settings, CommandLineTextFormsRoundTrip)
{
    qputenv("TZ", "Australia/Sydney");
    tzset();
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
