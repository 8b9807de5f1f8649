#include "support/KeywordWeek.h"
#include "ui/KeywordFile.h"

#include <QFileInfo>
#include <functional>

namespace
{
using KeywordTest = KeywordWeekTest;

bool has(const TGDEntry &e, const QString &text)
{
    for (const QString *f : { &e.title, &e.subAndCat, &e.rawStart, &e.channel })
        if (f->contains(text, Qt::CaseInsensitive))
            return true;
    return false;
}

struct MatchCase {
    const char *name;
    QStringList keywords, negatives;
    bool exact;
    int count; // -1: at least one
    std::function<bool(const TGDEntry &)> expected;
};
} // namespace

TEST_F(KeywordTest, RulesMatchEveryTermAndDropEveryNegative)
{
    for (const char *time : { "19:59", "20:00", "20:01" })
        appendLine("20070313", QString("9\t2007-03-13 %1\t1\tBoundary Show\t\t\tG\tN").arg(time));
    appendLine("20070313", "9\t2007-03-13 05:00\t10\tLess <than> more\t\t\tG\tN");
    appendLine("20070313", "9\t2007-03-13 05:10\t10\t<20:00\t\t\tG\tN");
    auto boundary = [](const char *notAt) {
        return [notAt](const TGDEntry &e) {
            return e.title == "Boundary Show" && e.startTime != notAt;
        };
    };
    const MatchCase cases[] = {
        { "terms in different fields", { "Lost", "6,61" }, { "" }, false, -1,
            [](const TGDEntry &e) { return e.title == "Lost" && e.channel == "6,61"; } },
        { "any case", { "castle", "FILM" }, { "" }, false, -1,
            [](const TGDEntry &e) { return has(e, "castle") && has(e, "film"); } },
        { "diacritics ignored", { "CAFE" }, { "" }, false, -1,
            [](const TGDEntry &e) { return has(e, "cafe") || has(e, QString::fromUtf8("café")); } },
        // Display names are not searched: "Prime" names 6,61 and "Seven" 7 on screen only.
        { "display name", { "Prime" }, { "" }, false, -1,
            [](const TGDEntry &e) { return has(e, "Prime"); } },
        { "display name 7", { "Seven" }, { "" }, false, -1,
            [](const TGDEntry &e) { return has(e, "Seven"); } },
        { "negative", { "Home and Away" }, { "", "6,61", "" }, false, -1,
            [](const TGDEntry &e) { return has(e, "Home and Away") && !has(e, "6,61"); } },
        { "exact time-like title", { "<20:00" }, { "" }, true, 1,
            [](const TGDEntry &e) { return e.title == "<20:00"; } },
        { "exact", { "Lost" }, { "" }, true, -1,
            [](const TGDEntry &e) { return e.title == "Lost"; } },
        { "exact is case-sensitive", { "lost" }, { "" }, true, 0,
            [](const TGDEntry &) { return false; } },
        { "lone <", { "<" }, { "" }, false, 2, [](const TGDEntry &e) { return has(e, "<"); } },
        { "before", { "Boundary", "<20:00" }, { "" }, false, 2, boundary("20:01") },
        { "not before", { "Boundary" }, { "<20:00" }, false, 2, boundary("19:59") },
        { "after", { "Boundary", ">20:00" }, { "" }, false, 2, boundary("19:59") },
        { "not after", { "Boundary" }, { ">20:00" }, false, 2, boundary("20:01") },
        { "empty term", { "" }, { "" }, false, 0, [](const TGDEntry &) { return false; } },
    };
    std::vector<KeywordRulePtr> rules;
    for (const MatchCase &c : cases) {
        rules.push_back(addRule(c.keywords, c.negatives));
        rules.back()->exact = c.exact;
    }
    ASSERT_TRUE(reload());
    const TGDEntryList all = kwc->allTGDEntries();
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].name);
        TGDEntryList expected;
        std::copy_if(all.begin(), all.end(), std::back_inserter(expected),
            [&](const TGDEntryPtr &e) { return cases[i].expected(*e); });
        ASSERT_TRUE(rules[i]->matches);
        EXPECT_EQ(*rules[i]->matches, expected);
        EXPECT_EQ(rules[i]->numberMatches, int(expected.size()));
        if (cases[i].count < 0)
            EXPECT_FALSE(expected.empty());
        else
            EXPECT_EQ(int(expected.size()), cases[i].count);
        EXPECT_TRUE(std::all_of(expected.begin(), expected.end(),
            [](const TGDEntryPtr &e) { return e->dispChannelColour == TGDEntry::Colour::Plain; }));
    }
}

TEST_F(KeywordTest, AutoRecordMarksReachTheFilesAndTheLaterRuleWins)
{
    auto all = addRule({ "Lost" }, { "" }, true);
    all->padStart = 5;
    all->padEnd = 10;
    // ("7" would not do: every "rawStart" of 2007 holds it.)
    auto onPrime = addRule({ "Lost", "6,61" }, { "" }, true);
    onPrime->padStart = 2;
    onPrime->padEnd = 3;
    addRule({ "Doctor Who" }); // autoRecord off: only shown
    auto noPad = addRule({ "Rage" }, { "" }, true);
    noPad->padStart.reset();
    noPad->padEnd.reset();
    ASSERT_TRUE(reload());

    QSet<QString> marked;
    for (const TGDEntryPtr &e : onDisk()) {
        marked.insert(e->title + (e->title == "Lost" ? e->recordStatus : QString()));
        EXPECT_EQ(e->recordStatus,
            e->title == "Rage"         ? "Y"
                : e->title != "Lost"   ? "N"
                : e->channel == "6,61" ? "-02 +03"
                                       : "-05 +10");
    }
    EXPECT_TRUE(marked.contains("Lost-02 +03") && marked.contains("Lost-05 +10")
        && marked.contains("Rage"));
    for (const TGDEntryPtr &e : *noPad->matches)
        EXPECT_EQ(e->extStart, 0);
    EXPECT_TRUE(readFile(dayFile("20070312")).contains("\r\n"));
}

TEST_F(KeywordTest, ARuleWithoutKeywordsIsNeverRunNorStored)
{
    Settings::setValue("keywordPadStart", 4);
    Settings::setValue("keywordPadEnd", 7);
    auto blank = createBlankSeq();
    EXPECT_EQ(blank->padStart, 4);
    EXPECT_EQ(blank->padEnd, 7);
    kwc->setSeqs(KeywordRules { blank });
    ASSERT_TRUE(reload());
    kwc->updateMatches(0);
    kwc->updateMatches(1); // no such rule
    kwc->editRule(nullptr, [](KeywordRule &) { FAIL(); });
    kwc->flushWrites();
    EXPECT_FALSE(blank->matches);
    EXPECT_FALSE(QFileInfo::exists(kwc->keywordFilePath()));

    blank->keywords = QStringList { "" };
    kwc->updateMatches(0);
    kwc->flushWrites();
    const auto stored = KeywordFile::read(kwc->keywordFilePath());
    ASSERT_TRUE(stored && stored->size() == 1u);
    EXPECT_TRUE(stored->front()->matches && stored->front()->matches->empty());
}

TEST_F(KeywordTest, SelectingDaysFiltersTheFullListInRowOrder)
{
    ASSERT_TRUE(reload());
    std::vector<int> pages;
    slc.setPageDisplay([&](int row) { pages.push_back(row); });
    slc.tableViewSelectionDidChange({ 4, 1 }, 1);
    TGDEntryList expected;
    for (const char *day : { "20070313", "20070316" })
        for (const TGDEntryPtr &e : kwc->allTGDEntries())
            if (e->fileNameDataIsFrom == day)
                expected.push_back(e);
    EXPECT_EQ(table.getFileData(), expected); // the same records, not copies

    // A placeholder row names no day and contributes nothing.
    GuideDayRows rows = slc.fileList();
    rows.push_back(std::make_shared<GuideDayRow>());
    slc.setFileList(rows);
    slc.tableViewSelectionDidChange({ int(rows.size()) - 1 }, int(rows.size()) - 1);
    EXPECT_TRUE(table.getFileData().empty());
    slc.tableViewSelectionDidChange({}, -1);
    EXPECT_TRUE(table.getFileData().empty());
    EXPECT_EQ(pages, (std::vector<int> { 1, int(rows.size()) - 1, -1 }));
}
