// "SkipRepeats": a rule marks the first showing of each episode only, simulcasts and
// next week's repeats included.
#include "support/KeywordWeek.h"
#include "ui/RuleFilters.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <map>
#include <set>

namespace
{

// The sub-title as the day file writes it: before " [category]".
QString subTitleOf(const TGDEntry &e)
{
    return e.subAndCat.section(" [", 0, 0).trimmed();
}

// The first showing of each group: earliest start, then the lowest channel key.
std::set<const TGDEntry *> firstShowings(
    const TGDEntryList &list, const std::function<QString(const TGDEntry &)> &groupOf)
{
    std::map<QString, const TGDEntry *> first;
    for (const TGDEntryPtr &e : list) {
        const TGDEntry *&f = first[groupOf(*e)];
        if (!f || e->rawStart < f->rawStart
            || (e->rawStart == f->rawStart && e->channel < f->channel))
            f = e.get();
    }
    std::set<const TGDEntry *> out;
    for (const auto &[group, e] : first)
        out.insert(e);
    return out;
}

std::set<const TGDEntry *> marked(const TGDEntryList &list)
{
    std::set<const TGDEntry *> out;
    for (const TGDEntryPtr &e : list)
        if (e->record)
            out.insert(e.get());
    return out;
}

} // namespace

class RuleRepeatsTest : public RulesWeekTest
{
protected:
    KeywordRulePtr skipping(const QStringList &keywords)
    {
        KeywordRulePtr r = addRule(keywords, { "" }, true);
        r->filters.insert("SkipRepeats", true);
        return r;
    }
    QString memoryPath() const { return Paths::applicationSupportFolder() + "/ShownEpisodes.json"; }
};

TEST_F(RuleRepeatsTest, OnlyTheFirstShowingOfEachEpisodeIsMarked)
{
    // Same title, no sub-title: the description tells episodes apart, folded as the search
    // folds; with neither, a programme is never a repeat.
    const char *extra[] = {
        "3\t2026-03-31 14:00\t30\tTalking Pictures\t [Film]\tCafé critics\tG\tN",
        "2\t2026-03-31 14:00\t30\tTalking Pictures\t [Film]\tCAFE CRITICS\tG\tN",
        "2\t2026-04-01 14:00\t30\ttalking pictures\t [Film]\tcafe critics \tG\tN",
        "2\t2026-04-02 14:00\t30\tTalking Pictures\t [Film]\tThe western\tG\tN",
        "2\t2026-04-03 14:00\t30\tTalking Pictures\t [Film]\t\tG\tN",
        "21\t2026-04-03 14:00\t30\tTalking Pictures\t [Film]\t\tG\tN",
    };
    for (const char *line : extra)
        appendLine(QString(line).mid(QString(line).indexOf('\t') + 1, 10).remove('-'), line);
    struct Case {
        const char *name;
        QStringList keywords;
        std::function<QString(const TGDEntry &)> episode; // empty: never a repeat
        size_t firsts; // first showings the guide holds
    };
    const Case cases[] = {
        // Every channel carries it at 22:30 each night: one showing is marked all week.
        { "simulcast, described alike", { "Late Movie" }, [](const TGDEntry &) { return "one"; },
            1 },
        { "sub-titles", { "Wild Australia" }, subTitleOf, 3 },
        { "descriptions", { "Talking Pictures" },
            [](const TGDEntry &e) {
                return e.description.isEmpty()
                    ? e.rawStart + e.channel
                    : e.description.toLower().trimmed().replace("é", "e");
            },
            4 },
    };
    std::vector<std::pair<KeywordRulePtr, KeywordRulePtr>> rules; // skipping, marking all
    for (const Case &c : cases)
        rules.emplace_back(skipping(c.keywords), addRule(c.keywords));
    ASSERT_TRUE(reload());
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].name);
        const auto &[skip, all] = rules[i];
        // The repeats stay in the matches, unmarked.
        ASSERT_TRUE(skip->matches && all->matches);
        EXPECT_EQ(*skip->matches, *all->matches);
        const std::set<const TGDEntry *> firsts = firstShowings(*skip->matches, cases[i].episode);
        EXPECT_EQ(firsts.size(), cases[i].firsts);
        EXPECT_EQ(marked(*skip->matches), firsts);
        // A repeat names the rule that passed it over, for the programme table to say.
        for (const TGDEntryPtr &e : *skip->matches)
            EXPECT_EQ(e->markRule, skip->keywords.join(' ')) << e->rawStart.toStdString();
    }
    // The marks reach the day files.
    int lateMovies = 0;
    for (const TGDEntryPtr &e : onDisk())
        if (e->title.startsWith("Late Movie") && e->recordStatus != "N")
            ++lateMovies;
    EXPECT_EQ(lateMovies, 1);
}

TEST_F(RuleRepeatsTest, AnEpisodeMarkedOnADayNoLongerReadIsARepeat)
{
    const KeywordRulePtr rule = skipping({ "Wild Australia" });
    ASSERT_TRUE(reload());
    const TGDEntryList week = *rule->matches;
    ASSERT_TRUE(QFile::exists(memoryPath()));

    // Three days on: 30 and 31 March are no longer read.
    today = QDate(2026, 4, 2);
    rescan();
    ASSERT_TRUE(reload());
    const TGDEntryList rest = *rule->matches;
    ASSERT_FALSE(rest.empty());
    std::set<QString> shownBefore;
    for (const TGDEntryPtr &e : week)
        if (e->fileNameDataIsFrom < "20260401")
            shownBefore.insert(subTitleOf(*e));
    ASSERT_FALSE(shownBefore.empty());
    std::set<const TGDEntry *> expected;
    for (const TGDEntry *e : firstShowings(rest, subTitleOf))
        if (!shownBefore.count(subTitleOf(*e)))
            expected.insert(e);
    EXPECT_EQ(marked(rest), expected);
    EXPECT_LT(expected.size(), firstShowings(rest, subTitleOf).size());

    // Without the memory every episode still in the guide is marked once.
    ASSERT_TRUE(QFile::remove(memoryPath()));
    kwc = std::make_unique<KeywordController>(&slc, &table);
    kwc->setToday([this] { return today; });
    slc.setKeywordController(kwc.get());
    kwc->setSeqs(KeywordRules { rule });
    ASSERT_TRUE(reload());
    EXPECT_EQ(marked(*rule->matches), firstShowings(*rule->matches, subTitleOf));
}

TEST(ShownEpisodesTest, KeepsEarliestShowingsAndForgetsAfterNinetyDays)
{
    TempHome home;
    const QString path = home.path() + "/ShownEpisodes.json";
    {
        ShownEpisodes shown(path);
        shown.remember("a\nx", "20260101", "20260101");
        shown.remember("b\ny", "20260330", "20260330");
        ASSERT_TRUE(shown.save(QDate(2026, 3, 31)));
    }
    ShownEpisodes shown(path);
    shown.refresh();
    EXPECT_EQ(shown.day("a\nx"), "20260101");
    // A showing on a day that has left the guide is not replaced by a later one.
    shown.remember("a\nx", "20260402", "20260330");
    // One still in the guide follows it.
    shown.remember("b\ny", "20260401", "20260330");
    EXPECT_EQ(shown.day("a\nx"), "20260101");
    EXPECT_EQ(shown.day("b\ny"), "20260401");
    // Another program's memory is merged, not overwritten.
    {
        ShownEpisodes other(path);
        other.remember("c\nz", "20260331", "20260330");
        ASSERT_TRUE(other.save(QDate(2026, 3, 31)));
    }
    ASSERT_TRUE(shown.save(QDate(2026, 4, 2)));
    ShownEpisodes again(path);
    again.refresh();
    EXPECT_EQ(again.day("a\nx"), std::nullopt); // 91 days before 2 April
    EXPECT_EQ(again.day("b\ny"), "20260401");
    EXPECT_EQ(again.day("c\nz"), "20260331");
    const QJsonArray list
        = QJsonDocument::fromJson(readFile(path)).object().value("episodes").toArray();
    EXPECT_EQ(list.size(), 2);
}
