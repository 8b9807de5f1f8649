#include "support/KeywordWeek.h"
#include "ui/KeywordFile.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <functional>
#include <sys/stat.h>
#include <tuple>

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

TEST_F(KeywordTest, CycleReadsEveryDaySortsAndCountsPerFile)
{
    ASSERT_TRUE(reload());
    const TGDEntryList all = kwc->allTGDEntries();
    EXPECT_EQ(all.size(), onDisk().size());
    for (size_t i = 1; i < all.size(); ++i) {
        const int c = all[i - 1]->channel.compare(all[i]->channel);
        ASSERT_TRUE(c < 0 || (c == 0 && all[i - 1]->start <= all[i]->start)) << i;
    }
    for (const GuideDayRowPtr &row : slc.fileList())
        EXPECT_EQ(row->fileCount, int(onDisk({ row->rawDate->left(8) }).size()));
    EXPECT_TRUE(table.getFileData().empty()); // the table is left without a list
}

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
    EXPECT_TRUE(marked.contains("Lost-02 +03") && marked.contains("Lost-05 +10") && marked.contains("Rage"));
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
    kwc->flushKeywordFile();
    EXPECT_FALSE(blank->matches);
    EXPECT_FALSE(QFileInfo::exists(kwc->keywordFilePath()));

    blank->keywords = QStringList { "" };
    kwc->updateMatches(0);
    kwc->flushKeywordFile();
    const auto stored = KeywordFile::read(kwc->keywordFilePath());
    ASSERT_TRUE(stored && stored->size() == 1u);
    EXPECT_TRUE(stored->front()->matches && stored->front()->matches->empty());
}

TEST_F(KeywordTest, OnlyDaysReadByTheLastLoadAreWrittenBack)
{
    const QByteArray first = readFile(dayFile("20070312"));
    kwc->writeOutData(); // nothing read yet
    EXPECT_EQ(readFile(dayFile("20070312")), first);

    ASSERT_TRUE(reload());
    const QByteArray written = readFile(dayFile("20070312"));
    const int count = slc.fileList().front()->fileCount;
    ASSERT_GT(count, 0);
    today = QDate(2007, 3, 15); // more than two days on: 12 March is neither read nor written
    addRule({ "News" }, { "" }, true);
    ASSERT_TRUE(reload());
    auto from = [this](const char *day) {
        const TGDEntryList all = kwc->allTGDEntries();
        return std::count_if(all.begin(), all.end(),
            [day](const TGDEntryPtr &e) { return e->fileNameDataIsFrom == day; });
    };
    EXPECT_EQ(from("20070312"), 0);
    EXPECT_GT(from("20070313"), 0);
    EXPECT_EQ(slc.fileList().front()->fileCount, count);
    EXPECT_EQ(readFile(dayFile("20070312")), written);

    // A "NoSave" reload drops what memory had: a hand mark is gone.
    const TGDEntryPtr insight = find("Insight", "20070315");
    ASSERT_TRUE(insight);
    kwc->editEntry(insight, [](TGDEntry &e) { e.record = true; });
    kwc->editEntry(nullptr, [](TGDEntry &) { FAIL(); });
    ASSERT_TRUE(reload("NoSave"));
    EXPECT_FALSE(find("Insight", "20070315")->record);
    for (const QString &day : kWeek)
        QFile::remove(dayFile(day));
    ASSERT_TRUE(reload("NoSave"));
    EXPECT_TRUE(kwc->allTGDEntries().empty());
}

// A day whose content did not change is not rewritten: same inode, same time.
TEST_F(KeywordTest, AnUnchangedDayFileIsNotRewritten)
{
    addRule({ "News" }, { "" }, true);
    ASSERT_TRUE(reload());
    auto identity = [this](const char *day) {
        struct stat st {};
        EXPECT_EQ(::stat(QFile::encodeName(dayFile(day)).constData(), &st), 0);
        return std::make_tuple(st.st_ino, st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
    };
    const auto kept = identity("20070313"), marked = identity("20070315");
    const TGDEntryPtr insight = find("Insight", "20070315");
    ASSERT_TRUE(insight && !insight->record);
    kwc->editEntry(insight, [](TGDEntry &e) { e.record = true; });
    ASSERT_TRUE(kwc->writeOutDataChecked());
    EXPECT_EQ(identity("20070313"), kept);
    EXPECT_NE(identity("20070315"), marked);
    EXPECT_TRUE(readFile(dayFile("20070315")).contains("\tInsight\t"));
}

TEST_F(KeywordTest, ADayFileWithoutAProgrammeLineIsLeftAsItIs)
{
    const QByteArray cases[]
        = { QByteArray(10 << 20, 'x'), QByteArray(1000, '\n'), "\t\t\t\t\t\t\t\tY\n" };
    addRule({ "News" }, { "" }, true);
    for (const QByteArray &bytes : cases) {
        ASSERT_TRUE(writeFile(dayFile("20070319"), bytes));
        log.setText({});
        rescan();
        ASSERT_TRUE(reload());
        EXPECT_EQ(readFile(dayFile("20070319")), bytes);
        EXPECT_EQ(slc.fileList().back()->fileCount, 0);
        EXPECT_EQ(log.text().count("20070319.tgd holds no programme line; left as it is.\n"), 1);
    }
    // Without a status log the line goes to the system log.
    kwc->setStatusLog(nullptr);
    SystemLogCapture logs;
    ASSERT_TRUE(reload());
    EXPECT_TRUE(logs.lines().contains("20070319.tgd holds no programme line; left as it is."));
    // An empty file says nothing and stays empty.
    ASSERT_TRUE(writeFile(dayFile("20070319"), {}));
    log.setText({});
    ASSERT_TRUE(reload());
    EXPECT_TRUE(readFile(dayFile("20070319")).isEmpty());
    EXPECT_FALSE(log.text().contains("20070319"));
    // A folder where a file should be cannot be read at all: the cycle fails.
    QFile::remove(dayFile("20070319"));
    QDir().mkpath(dayFile("20070319"));
    EXPECT_FALSE(reload());
    EXPECT_EQ(slc.fileList().back()->fileCount, 0);
    EXPECT_FALSE(kwc->allTGDEntries().empty());
}

TEST_F(KeywordTest, StartUpReloadRunsOnItsOwnWorker)
{
    addRule({ "Neighbours" }, { "" }, true);
    KeywordFile::write(kwc->keywordFilePath(), kwc->giveSeqs());
    kwc->setSeqs(std::nullopt);
    kwc->awakeFromNib(10);
    EXPECT_EQ(kwc->giveSeqs().size(), 1u); // read at once from the file
    QElapsedTimer t;
    t.start();
    while (kwc->allTGDEntries().empty() && t.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    kwc->waitForIdle();
    const TGDEntryList disk = onDisk();
    EXPECT_TRUE(std::any_of(disk.begin(), disk.end(),
        [](const TGDEntryPtr &e) { return e->title == "Neighbours" && e->recordStatus != "N"; }));
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
