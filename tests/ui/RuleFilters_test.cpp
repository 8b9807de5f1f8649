// The narrowing keys of a rule (channels, days, a time window, a duration) over a week of
// a regional guide with simulcasts that runs into a daylight-saving changeover.
#include "support/KeywordWeek.h"
#include "ui/KeywordFile.h"
#include "ui/RuleFilters.h"

#include <QFileInfo>
#include <functional>

namespace
{

// The start as the day file writes it, read without the program's derivation.
QDate dayOf(const TGDEntry &e)
{
    return QDate::fromString(e.rawStart.left(10), "yyyy-MM-dd");
}
QString clockOf(const TGDEntry &e)
{
    return e.rawStart.mid(11, 5);
}
// Programmes as a failure message can show them.
std::vector<std::string> named(const TGDEntryList &list)
{
    std::vector<std::string> out;
    for (const TGDEntryPtr &e : list)
        out.push_back((e->channel + " " + e->rawStart + " " + e->title).toStdString());
    return out;
}

} // namespace

class RuleFiltersTest : public RulesWeekTest
{
protected:
    KeywordRulePtr addFiltered(
        const QStringList &keywords, const QVariantMap &filters, bool autoRecord = false)
    {
        KeywordRulePtr r = addRule(keywords, { "" }, autoRecord);
        r->filters = filters;
        return r;
    }
    int linesAbout(const QString &text) const { return int(log.text().count(text)); }
};

TEST_F(RuleFiltersTest, EachFilterNarrowsTheTermsMatches)
{
    struct Case {
        const char *name;
        QStringList keywords;
        QVariantMap filters;
        std::function<bool(const TGDEntry &)> passes;
        bool some = true; // the guide holds at least one such programme
    };
    using V = QVariantList;
    const QStringList any { ">00:00" }; // every programme
    const Case cases[] = {
        { "channel key or shown name, any case", { "News" },
            { { "Channels", V { "abc", "8", "" } } },
            [](const TGDEntry &e) { return e.channel == "2" || e.channel == "8"; } },
        { "no channel named: any", { "News" }, { { "Channels", V {} } },
            [](const TGDEntry &) { return true; } },
        { "weekend", { "Drama" }, { { "Days", V { 6, 7 } } },
            [](const TGDEntry &e) { return dayOf(e).dayOfWeek() >= 6; } },
        // The Sunday the clocks go back: its small hours are Saturday in UTC.
        { "changeover Sunday", { "Home Shopping" }, { { "Days", V { 7 } } },
            [](const TGDEntry &e) { return dayOf(e) == QDate(2026, 4, 5); } },
        { "the Saturday before it", { "Home Shopping" }, { { "Days", V { 6 } } },
            [](const TGDEntry &e) { return dayOf(e) == QDate(2026, 4, 4); } },
        { "after", any, { { "StartAfter", "18:00" } },
            [](const TGDEntry &e) { return clockOf(e) >= "18:00"; } },
        { "before", any, { { "StartBefore", "6:00" } },
            [](const TGDEntry &e) { return clockOf(e) < "06:00"; } },
        { "window past midnight", any, { { "StartAfter", "22:00" }, { "StartBefore", "01:00" } },
            [](const TGDEntry &e) { return clockOf(e) >= "22:00" || clockOf(e) < "01:00"; } },
        { "window within a day", any, { { "StartAfter", "12:00" }, { "StartBefore", "12:30" } },
            [](const TGDEntry &e) { return clockOf(e) >= "12:00" && clockOf(e) < "12:30"; } },
        { "at least two hours", any, { { "MinDuration", 120 } },
            [](const TGDEntry &e) { return e.duration >= 120; } },
        { "at most half an hour", any, { { "MaxDuration", 30 } },
            [](const TGDEntry &e) { return e.duration <= 30; } },
        // Nine's programmes come on NBN/WIN here.
        { "the news on ABC or Nine", { "News" }, { { "Channels", V { "ABC", "nbn/win" } } },
            [](const TGDEntry &e) { return e.channel == "2" || e.channel == "8"; } },
        { "dramas on weekend evenings", { "Drama" },
            { { "Days", V { 6, 7 } }, { "StartAfter", "18:00" } },
            [](const TGDEntry &e) { return dayOf(e).dayOfWeek() >= 6 && clockOf(e) >= "18:00"; } },
        { "films 22:00 to 01:00 of 55 to 120 minutes", { "Movie" },
            { { "StartAfter", "22:00" }, { "StartBefore", "01:00" }, { "MinDuration", 55 },
                { "MaxDuration", 120 } },
            [](const TGDEntry &e) {
                return (clockOf(e) >= "22:00" || clockOf(e) < "01:00") && e.duration >= 55
                    && e.duration <= 120;
            } },
        // The late movie runs two hours.
        { "films 22:00 to 01:00 of 55 to 90 minutes", { "Movie" },
            { { "StartAfter", "22:00" }, { "StartBefore", "01:00" }, { "MinDuration", 55 },
                { "MaxDuration", 90 } },
            [](const TGDEntry &) { return false; }, false },
    };
    std::vector<std::pair<KeywordRulePtr, KeywordRulePtr>> rules; // filtered, terms alone
    for (const Case &c : cases)
        rules.emplace_back(addFiltered(c.keywords, c.filters), addRule(c.keywords));
    ASSERT_TRUE(reload());
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].name);
        const auto &[filtered, terms] = rules[i];
        ASSERT_TRUE(filtered->matches && terms->matches);
        TGDEntryList expected;
        std::copy_if(terms->matches->begin(), terms->matches->end(), std::back_inserter(expected),
            [&](const TGDEntryPtr &e) { return cases[i].passes(*e); });
        EXPECT_EQ(named(*filtered->matches), named(expected));
        EXPECT_EQ(filtered->numberMatches, int(expected.size()));
        EXPECT_EQ(!expected.empty(), cases[i].some);
        const QVariant channels = cases[i].filters.value("Channels");
        if (!channels.isValid() || !channels.toList().isEmpty()) {
            EXPECT_LT(expected.size(), terms->matches->size()) << "the filter took nothing out";
        }
    }
    EXPECT_TRUE(log.text().isEmpty()) << log.text().toStdString();
}

TEST_F(RuleFiltersTest, TheWindowTakesBothSidesOfMidnight)
{
    const KeywordRulePtr r
        = addFiltered({ ">00:00" }, { { "StartAfter", "22:00" }, { "StartBefore", "01:00" } });
    ASSERT_TRUE(reload());
    QSet<QString> times;
    for (const TGDEntryPtr &e : *r->matches)
        times.insert(clockOf(*e));
    EXPECT_TRUE(times.contains("22:30"));
    EXPECT_TRUE(times.contains("00:30"));
    EXPECT_FALSE(times.contains("01:30"));
}

TEST_F(RuleFiltersTest, AnUnusableValueIsIgnoredWithOneLineNamingTheRule)
{
    struct Case {
        const char *key;
        QVariant value;
    };
    const Case cases[] = {
        { "Channels", QVariantList { "ABC", 7 } }, { "Days", QVariantList { 6, 9 } },
        { "Days", QVariant("Saturday") }, { "Days", QVariantList { 0 } },
        { "StartAfter", QVariant("25:00") }, { "StartAfter", QVariant("late") },
        { "StartBefore", QVariant(2200) }, { "MinDuration", QVariant("long") },
        { "MaxDuration", QVariant(-5) }, { "MaxDuration", QVariant(90.5) },
        { "SkipRepeats", QVariant("yes") },
        { "Channels", QVariant(QVariantMap()) }, // a dictionary in the file
    };
    std::vector<std::pair<KeywordRulePtr, KeywordRulePtr>> rules; // broken, Days alone
    for (const Case &c : cases) {
        // The usable key beside the broken one still applies.
        QVariantMap usable { { "Days", QVariantList { 1 } } };
        usable.remove(c.key);
        QVariantMap filters = usable;
        filters.insert(c.key, c.value);
        rules.emplace_back(addFiltered({ "News" }, filters), addFiltered({ "News" }, usable));
    }
    for (int run = 0; run < 2; ++run) {
        ASSERT_TRUE(reload());
        for (size_t i = 0; i < std::size(cases); ++i) {
            SCOPED_TRACE(std::string(cases[i].key) + " " + cases[i].value.toString().toStdString());
            const auto &[broken, usable] = rules[i];
            ASSERT_TRUE(broken->matches);
            EXPECT_EQ(named(*broken->matches), named(*usable->matches));
            EXPECT_FALSE(broken->matches->empty());
            const QStringList problems = RuleFilters::of(*broken).problems;
            ASSERT_EQ(problems.size(), 1);
            // One line, however often the rule runs; it names the rule and the key.
            EXPECT_EQ(linesAbout("The rule \"News\": " + problems.first()), 1);
            EXPECT_TRUE(problems.first().contains(QString("\"%1\"").arg(cases[i].key)));
        }
    }
}

TEST_F(RuleFiltersTest, OddValuesInTheFileAreKeptAndIgnored)
{
    const QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">"
                           "<array><dict><key>Keywords</key><array><string>News</string></array>"
                           "<key>Channels</key><dict><key>a</key><string>ABC</string></dict>"
                           "<key>Days</key><array><array><integer>1</integer></array></array>"
                           "<key>StartAfter</key><date>2026-03-30T10:00:00Z</date>"
                           "<key>StartBefore</key><data>AAEC</data>"
                           "<key>MinDuration</key><real>55.5</real>"
                           "<key>MaxDuration</key><integer>18446744073709551615</integer>"
                           "<key>SkipRepeats</key><string>true</string>"
                           "<key>Unknown</key><string>x</string>"
                           "</dict></array></plist>\n";
    const std::optional<KeywordRules> rules = KeywordFile::fromBytes(xml);
    ASSERT_TRUE(rules);
    ASSERT_EQ(rules->size(), 1u);
    const KeywordRulePtr r = rules->front();
    const RuleFilters f = RuleFilters::of(*r);
    EXPECT_FALSE(f.narrows());
    EXPECT_FALSE(f.skipRepeats);
    EXPECT_EQ(f.problems.size(), 7) << f.problems.join("\n").toStdString();
    kwc->setSeqs(*rules);
    const KeywordRulePtr plain = addRule({ "News" });
    ASSERT_TRUE(reload());
    EXPECT_EQ(named(*r->matches), named(*plain->matches));
    EXPECT_EQ(linesAbout("The rule \"News\""), 7);
    // Stored back under their keys for the user to put right.
    const QByteArray again = KeywordFile::toXml({ r });
    for (const char *key : { "Channels", "Days", "StartAfter", "MinDuration", "SkipRepeats" })
        EXPECT_TRUE(again.contains(QByteArray("<key>") + key + "</key>")) << key;
}

TEST(RuleFileTest, AFileOfEarlierRulesReadsAndWritesUnchanged)
{
    const QByteArray earlier = readFile(PALLARO_TEST_DATA "/rules/Keywords-earlier.plist");
    ASSERT_FALSE(earlier.isEmpty());
    const std::optional<KeywordRules> rules = KeywordFile::fromBytes(earlier);
    ASSERT_TRUE(rules);
    ASSERT_EQ(rules->size(), 3u);
    for (const KeywordRulePtr &r : *rules) {
        EXPECT_TRUE(r->filters.isEmpty());
        const RuleFilters f = RuleFilters::of(*r);
        EXPECT_FALSE(f.narrows() || f.skipRepeats || !f.problems.isEmpty());
    }
    EXPECT_EQ(KeywordFile::toXml(*rules), earlier);
}

TEST(RuleFileTest, TheNewKeysGoThroughTheFile)
{
    auto r = std::make_shared<KeywordRule>();
    r->keywords = QStringList { "Movie" };
    const QVariantMap filters { { "Channels", QStringList { "ABC", "Prime North" } },
        { "Days", QVariantList { 6, 7 } }, { "StartAfter", "22:00" }, { "StartBefore", "01:00" },
        { "MinDuration", 55 }, { "MaxDuration", 90 }, { "SkipRepeats", true } };
    for (auto it = filters.cbegin(); it != filters.cend(); ++it)
        ASSERT_TRUE(r->setValue(it.key(), it.value()));
    const std::optional<KeywordRules> back = KeywordFile::fromBytes(KeywordFile::toXml({ r }));
    ASSERT_TRUE(back && back->size() == 1);
    const RuleFilters f = RuleFilters::of(*back->front());
    EXPECT_TRUE(f.problems.isEmpty()) << f.problems.join("\n").toStdString();
    EXPECT_EQ(f.describe(),
        "Channels=ABC,Prime North; Days=6,7; StartAfter=22:00; StartBefore=01:00; "
        "MinDuration=55; MaxDuration=90; SkipRepeats");
    // An invalid value takes the key away.
    back->front()->setValue("Days", QVariant());
    EXPECT_FALSE(back->front()->value("Days").isValid());
    EXPECT_FALSE(KeywordFile::toXml(*back).contains("<key>Days</key>"));
}
