// `pallaro --rules`: the rules, their narrowing keys and match counts, for scripts; it
// reads and never writes.
#include "base/Clock.h"
#include "base/FolderWalk.h"
#include "base/Paths.h"
#include "support/TempHome.h"
#include "ui/KeywordFile.h"

#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <map>

namespace
{

// Every file under the data folder with its bytes and time.
std::map<QString, std::pair<QByteArray, qint64>> snapshot()
{
    std::map<QString, std::pair<QByteArray, qint64>> files;
    const QString folder = Paths::applicationSupportFolder();
    for (const QString &relative : walkSorted(folder)) {
        const QString path = folder + "/" + relative;
        files[relative] = { readFile(path), QFileInfo(path).lastModified().toMSecsSinceEpoch() };
    }
    return files;
}

KeywordRulePtr rule(const QStringList &keywords, const QVariantMap &filters, bool autoRecord)
{
    auto r = std::make_shared<KeywordRule>();
    r->keywords = keywords;
    r->filters = filters;
    if (autoRecord)
        r->autoRecord = true;
    return r;
}

TEST(RulesCommand, PrintsEachRuleWithItsFiltersAndMatchesAndWritesNothing)
{
    TempHome home;
    QString out, err;
    QDir().mkpath(Paths::applicationSupportFolder());
    EXPECT_EQ(runPallaro({ "--rules" }, {}, &out, &err), 1);
    EXPECT_TRUE(out.isEmpty() && err.isEmpty()) << err.toStdString();

    const QDate today = Clock::today();
    const QString d0 = today.toString("yyyy-MM-dd "), d1 = today.addDays(1).toString("yyyy-MM-dd ");
    const QString output = Paths::outputFolder();
    QDir().mkpath(output);
    ASSERT_TRUE(writeFile(output + "/" + today.toString("yyyyMMdd") + ".tgd",
        ("2\t" + d0
            + "18:00\t30\tABC News\t [News]\t\tG\tN\n"
              "3\t"
            + d0
            + "18:30\t60\tWorld News\t [News]\t\tG\tN\n"
              "3\t"
            + d0
            + "23:00\t90\tLate Film\tNoir [Film]\t\tM\tN\n"
              "2\t"
            + d0 + "23:00\t90\tLate Film\tNoir [Film]\t\tM\tN\n")
            .toLatin1()));
    ASSERT_TRUE(writeFile(output + "/" + today.addDays(1).toString("yyyyMMdd") + ".tgd",
        ("2\t" + d1
            + "00:30\t120\tNight Film\tLong [Film]\t\tM\tN\n"
              "2\t"
            + d1 + "12:00\t60\tDay Film\tShort [Film]\t\tM\tN\n")
            .toLatin1()));
    const KeywordRules rules = {
        rule({ "News" }, { { "Channels", QVariantList { "abc" } } }, true),
        rule({ "Film" },
            { { "StartAfter", "22:00" }, { "StartBefore", "01:00" }, { "MinDuration", 55 },
                { "SkipRepeats", true } },
            false),
        rule({}, {}, false),
        rule({ "News", "", "Wor\tld" }, { { "Days", "Saturday" } }, true),
    };
    rules.back()->negatives = QStringList { "", "Sport" };
    ASSERT_TRUE(KeywordFile::write(Paths::applicationSupportFolder() + "/Keywords.plist", rules));
    const auto before = snapshot();

    EXPECT_EQ(runPallaro({ "--rules" }, {}, &out, &err), 0);
    EXPECT_EQ(out,
        "1\tNews\t\tChannels=abc\t1\tauto\n"
        "2\tFilm\t\tStartAfter=22:00; StartBefore=01:00; MinDuration=55; SkipRepeats\t3\t\n"
        "3\t\t\t\t0\t\n"
        "4\tNews, Wor ld\tSport\t\t0\tauto\n");
    // The value it ignores is said, the rule named.
    EXPECT_EQ(err.count('\n'), 1) << err.toStdString();
    EXPECT_TRUE(err.contains("\"Days\"") && err.contains("News")) << err.toStdString();
    EXPECT_EQ(snapshot(), before);

    // A damaged rule file is an error, and stays where it is.
    const QString path = Paths::applicationSupportFolder() + "/Keywords.plist";
    ASSERT_TRUE(writeFile(path, "not a property list"));
    const auto damaged = snapshot();
    EXPECT_EQ(runPallaro({ "--rules" }, {}, &out, &err), 2);
    EXPECT_TRUE(out.isEmpty());
    EXPECT_EQ(err.count('\n'), 1) << err.toStdString();
    EXPECT_TRUE(err.startsWith("pallaro: cannot read the keyword rules")) << err.toStdString();
    EXPECT_EQ(snapshot(), damaged);
}

} // namespace
