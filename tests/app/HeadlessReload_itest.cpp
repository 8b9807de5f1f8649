#include "guide/TGDFile.h"
#include "support/TempHome.h"
#include "ui/KeywordFile.h"

#include <QDate>
#include <QDir>
#include <gtest/gtest.h>

namespace
{

class HeadlessReloadTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        output = home.supportFolder() + "/output";
        today = QDate::currentDate().toString("yyyyMMdd");
        tomorrow = QDate::currentDate().addDays(1).toString("yyyyMMdd");
        for (const QString &day : { today, tomorrow })
            ASSERT_TRUE(writeFile(
                output + "/" + day + ".tgd", readFile(PALLARO_TEST_DATA "/keywords/20070313.tgd")));
        auto rule = std::make_shared<KeywordRule>();
        rule->keywords = QStringList { "Lost" };
        rule->negatives = QStringList { "6,61" };
        rule->autoRecord = true;
        rule->padStart = 5;
        rule->padEnd = 10;
        ASSERT_TRUE(KeywordFile::write(home.supportFolder() + "/Keywords.plist", { rule }));
    }
    TempHome home;
    QString output, today, tomorrow;
};

} // namespace

TEST_F(HeadlessReloadTest, MarksTheDayFilesFromTheRuleFile)
{
    QString out, err;
    ASSERT_EQ(runPallaro({ "--headless", "--reload" }, {}, &out, &err), 0) << err.toStdString();
    int marked = 0;
    for (const QString &day : { today, tomorrow }) {
        const QByteArray bytes = readFile(output + "/" + day + ".tgd");
        EXPECT_TRUE(bytes.contains("\r\n"));
        for (const TGDEntryPtr &e : TGDFile::parse(bytes, day)) {
            const bool expected = e->title == "Lost" && e->channel != "6,61";
            EXPECT_EQ(e->recordStatus, expected ? "-05 +10" : "N") << e->title.toStdString();
            marked += expected;
        }
    }
    EXPECT_GT(marked, 0);
    const auto rules = KeywordFile::read(home.supportFolder() + "/Keywords.plist");
    ASSERT_TRUE(rules && rules->front()->matches);
    EXPECT_EQ(rules->front()->numberMatches, marked);
}

TEST_F(HeadlessReloadTest, UnreadableDayFileFailsTheRun)
{
    QDir().mkpath(output + "/" + QDate::currentDate().addDays(2).toString("yyyyMMdd") + ".tgd");
    QString out;
    EXPECT_NE(runPallaro({ "--headless", "--reload" }, {}, &out), 0);
    EXPECT_TRUE(out.contains("Reload failed")) << out.toStdString();
}
