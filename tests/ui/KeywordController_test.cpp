#include "app/EPGController.h"
#include "base/Paths.h"
#include "base/Settings.h"
#include "base/StatusLog.h"
#include "guide/TGDFile.h"
#include "support/TempHome.h"
#include "ui/KeywordController.h"
#include "ui/KeywordFile.h"
#include "ui/SourceListController.h"
#include "ui/TGDPickerController.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSize>
#include <atomic>
#include <ctime>
#include "support/KeywordWeek.h"

#include <gtest/gtest.h>
#include <thread>

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString &s, std::ostream *os)
{
    *os << '"' << s.toStdString() << '"';
}
QT_END_NAMESPACE

namespace
{

class KeywordTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        qputenv("TZ", "Australia/Sydney");
        tzset();
        Settings::registerDefaults();
        output = Paths::outputFolder();
        ASSERT_TRUE(copyKeywordWeek(output));
        epg.setSourceList(&slc);
        kwc = std::make_unique<KeywordController>(&slc, &table);
        kwc->setToday([this] { return today; });
        slc.setKeywordController(kwc.get());
        slc.setProgrammeTable(&table);
        rescan();
    }
    void TearDown() override
    {
        kwc.reset();
        qunsetenv("TZ");
        tzset();
    }

    void rescan()
    {
        epg.loadExistingTGDs(QDate(2007, 3, 12));
        QCoreApplication::processEvents();
    }

    KeywordRulePtr addRule(
        QStringList keywords, QStringList negatives = { "" }, bool autoRecord = false)
    {
        auto r = KeywordController::createBlankSeq();
        r->keywords = std::move(keywords);
        r->negatives = std::move(negatives);
        if (autoRecord)
            r->autoRecord = true;
        KeywordRules rules = kwc->giveSeqs();
        rules.push_back(r);
        kwc->setSeqs(rules);
        return r;
    }

    bool reload(const QString &mode = QString())
    {
        const bool ok = kwc->runReloadCycle(mode);
        QCoreApplication::processEvents();
        return ok;
    }

    // The programmes as they stand in a day file on disk (no derivation needed).
    TGDEntryList onDisk(const QString &day) const
    {
        return TGDFile::parse(readFile(output + "/" + day + ".tgd"), day);
    }
    TGDEntryList allOnDisk() const
    {
        TGDEntryList all;
        for (const QString &day : kWeek) {
            const TGDEntryList d = onDisk(day);
            all.insert(all.end(), d.begin(), d.end());
        }
        return all;
    }
    void appendLine(const QString &day, const QString &line)
    {
        QFile f(output + "/" + day + ".tgd");
        ASSERT_TRUE(f.open(QIODevice::Append));
        f.write(line.toLatin1() + "\n");
    }

    static bool hasTitle(const TGDEntryList &list, const QString &title)
    {
        return std::any_of(
            list.begin(), list.end(), [&](const TGDEntryPtr &e) { return e->title == title; });
    }

    TempHome home;
    QString output;
    QDate today { 2007, 3, 12 };
    StatusLog log;
    EPGController epg { &log };
    SourceListController slc;
    TGDPickerController table;
    std::unique_ptr<KeywordController> kwc;
};

} // namespace

TEST_F(KeywordTest, CycleReadsEveryDaySortsAndCountsPerFile)
{
    ASSERT_TRUE(reload());
    const TGDEntryList all = kwc->allTGDEntries();
    EXPECT_EQ(all.size(), allOnDisk().size());
    for (size_t i = 1; i < all.size(); ++i) {
        const int c = all[i - 1]->channel.compare(all[i]->channel);
        ASSERT_TRUE(c < 0 || (c == 0 && all[i - 1]->start <= all[i]->start)) << i;
    }
    for (const GuideDayRowPtr &row : slc.fileList())
        EXPECT_EQ(row->fileCount, int(onDisk(row->rawDate->left(8)).size()))
            << row->rawDate->toStdString();
    // The table is left with an empty working list at the end of a cycle.
    EXPECT_TRUE(table.getFileData().empty());
}

TEST_F(KeywordTest, EveryTermMustMatchPossiblyInDifferentFields)
{
    auto lostOnPrime = addRule({ "Lost", "6,61" });
    auto castle = addRule({ "castle", "FILM" }); // title and sub/category, any case
    auto cafe = addRule({ "CAFE" }); // diacritics are ignored
    ASSERT_TRUE(reload());

    size_t expected = 0, expectedCastle = 0, expectedCafe = 0;
    for (const TGDEntryPtr &e : allOnDisk()) {
        expected += e->title == "Lost" && e->channel == "6,61";
        expectedCastle += e->title.contains("Castle") && e->subAndCat.contains("[Film]");
        expectedCafe += e->title == QString::fromUtf8("Café Society");
    }
    ASSERT_GT(expected, 0u);
    ASSERT_GT(expectedCafe, 0u);
    ASSERT_TRUE(lostOnPrime->matches);
    EXPECT_EQ(lostOnPrime->matches->size(), expected);
    EXPECT_EQ(lostOnPrime->numberMatches, int(expected));
    for (const TGDEntryPtr &e : *lostOnPrime->matches) {
        EXPECT_EQ(e->title, "Lost");
        EXPECT_EQ(e->channel, "6,61");
        EXPECT_EQ(e->dispChannelColour, TGDEntry::Colour::Plain); // plain text on matches
    }
    EXPECT_EQ(castle->matches->size(), expectedCastle);
    EXPECT_EQ(cafe->matches->size(), expectedCafe);
}

TEST_F(KeywordTest, ChannelTermsMatchTheStoredChannelNotTheDisplayName)
{
    auto prime = addRule({ "Prime" });
    auto seven = addRule({ "Seven" });
    ASSERT_TRUE(reload());
    // "Prime" names channel 6,61 only on screen: only titles holding the word match.
    ASSERT_FALSE(prime->matches->empty());
    for (const TGDEntryPtr &e : *prime->matches)
        EXPECT_TRUE(e->title.contains("Prime")) << e->title.toStdString();
    for (const TGDEntryPtr &e : *seven->matches)
        EXPECT_TRUE(e->title.contains("Seven")) << e->title.toStdString();
    size_t onSeven = 0;
    for (const TGDEntryPtr &e : kwc->allTGDEntries())
        onSeven += e->channel == "7";
    EXPECT_LT(seven->matches->size(), onSeven);
}

TEST_F(KeywordTest, NegativesDropAnyProgrammeTheyMatch)
{
    auto rule = addRule({ "Home and Away" }, { "", "6,61", "" });
    auto noNegatives = addRule({ "Home and Away" });
    ASSERT_TRUE(reload());
    ASSERT_FALSE(rule->matches->empty());
    for (const TGDEntryPtr &e : *rule->matches)
        EXPECT_EQ(e->channel, "7");
    EXPECT_GT(noNegatives->matches->size(), rule->matches->size());
}

TEST_F(KeywordTest, ExactBareLessThanAndTimeBoundsAtTheMinute)
{
    for (const char *time : { "19:59", "20:00", "20:01" })
        appendLine(
            "20070313", QString("9\t2007-03-13 %1\t1\tBoundary Show\t [Test]\t\tG\tN").arg(time));
    appendLine("20070313", "9\t2007-03-13 05:00\t10\tLess <than> more\t\t\tG\tN");
    appendLine("20070313", "9\t2007-03-13 05:10\t10\t<20:00\t\t\tG\tN");

    auto exactTime = addRule({ "<20:00" });
    exactTime->exact = true;
    auto exactLost = addRule({ "Lost" });
    exactLost->exact = true;
    auto exactLower = addRule({ "lost" });
    exactLower->exact = true;
    auto bare = addRule({ "<" });
    auto posBefore = addRule({ "Boundary", "<20:00" });
    auto negBefore = addRule({ "Boundary" }, { "<20:00" });
    auto posAfter = addRule({ "Boundary", ">20:00" });
    auto negAfter = addRule({ "Boundary" }, { ">20:00" });
    ASSERT_TRUE(reload());

    auto times = [](const KeywordRulePtr &r) {
        QStringList t;
        for (const TGDEntryPtr &e : *r->matches)
            t << e->startTime;
        t.sort();
        return t;
    };
    // Exact compares the whole title, even for a term that looks like a time bound.
    ASSERT_EQ(exactTime->matches->size(), 1u);
    EXPECT_EQ(exactTime->matches->front()->title, "<20:00");
    EXPECT_FALSE(exactLost->matches->empty());
    for (const TGDEntryPtr &e : *exactLost->matches)
        EXPECT_EQ(e->title, "Lost");
    EXPECT_TRUE(exactLower->matches->empty());
    // A lone "<" is searched for as text.
    EXPECT_EQ(bare->matches->size(), 2u);
    EXPECT_TRUE(hasTitle(*bare->matches, "Less <than> more"));
    EXPECT_EQ(times(posBefore), QStringList({ "19:59", "20:00" }));
    EXPECT_EQ(times(negBefore), QStringList({ "20:00", "20:01" }));
    EXPECT_EQ(times(posAfter), QStringList({ "20:00", "20:01" }));
    EXPECT_EQ(times(negAfter), QStringList({ "19:59", "20:00" }));
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
    auto shown = addRule({ "Doctor Who" }); // autoRecord off: only shown
    auto noPad = addRule({ "Rage" }, { "" }, true);
    noPad->padStart.reset();
    noPad->padEnd.reset();
    ASSERT_TRUE(reload());

    int lost = 0, doctor = 0, rage = 0;
    for (const TGDEntryPtr &e : allOnDisk()) {
        if (e->title == "Lost") {
            ++lost;
            EXPECT_EQ(e->recordStatus, e->channel == "6,61" ? "-02 +03" : "-05 +10");
        } else if (e->title == "Rage") {
            ++rage;
            EXPECT_EQ(e->recordStatus, "Y"); // no paddings: both extensions 0
        } else {
            doctor += e->title == "Doctor Who";
            EXPECT_EQ(e->recordStatus, "N") << e->title.toStdString();
        }
    }
    EXPECT_GT(lost, 0);
    EXPECT_GT(rage, 0);
    EXPECT_EQ(int(shown->matches->size()), doctor);
    for (const TGDEntryPtr &e : *noPad->matches)
        EXPECT_EQ(e->extStart, 0);
    // The re-writer's line ends.
    EXPECT_TRUE(readFile(output + "/20070312.tgd").contains("\r\n"));
}

TEST_F(KeywordTest, RulesWithoutKeywordsNeverWriteAndAnEmptyTermMatchesNothing)
{
    const QString file = kwc->keywordFilePath();
    auto blank = KeywordController::createBlankSeq();
    kwc->setSeqs(KeywordRules { blank });
    ASSERT_TRUE(reload());
    kwc->updateMatches(0);
    kwc->flushKeywordFile();
    EXPECT_FALSE(blank->matches);
    EXPECT_FALSE(QFileInfo::exists(file));

    blank->keywords = QStringList { "" };
    kwc->updateMatches(0);
    kwc->flushKeywordFile();
    ASSERT_TRUE(blank->matches);
    EXPECT_TRUE(blank->matches->empty());
    EXPECT_EQ(blank->numberMatches, 0);
    ASSERT_TRUE(QFileInfo::exists(file));
    const auto stored = KeywordFile::read(file);
    ASSERT_TRUE(stored);
    ASSERT_EQ(stored->size(), 1u);
    EXPECT_TRUE(stored->front()->matches && stored->front()->matches->empty());
}

TEST_F(KeywordTest, NewRuleTakesThePaddingSettings)
{
    Settings::setValue("keywordPadStart", 4);
    Settings::setValue("keywordPadEnd", 7);
    auto r = KeywordController::createBlankSeq();
    EXPECT_EQ(r->padStart, 4);
    EXPECT_EQ(r->padEnd, 7);
    EXPECT_TRUE(r->keywords.isEmpty());
    EXPECT_EQ(r->negatives, QStringList { "" });
    EXPECT_FALSE(r->exact);
    EXPECT_FALSE(r->autoRecord);
    EXPECT_FALSE(r->matches);
}

TEST_F(KeywordTest, HandMarkSurvivesAReloadButNotANoSaveOne)
{
    ASSERT_TRUE(reload());
    auto find = [this](const QString &title, const QString &day) -> TGDEntryPtr {
        for (const TGDEntryPtr &e : kwc->allTGDEntries())
            if (e->title == title && e->fileNameDataIsFrom == day)
                return e;
        return nullptr;
    };
    TGDEntryPtr bill = find("The Bill", "20070314");
    ASSERT_TRUE(bill);
    const QString rawStart = bill->rawStart;
    kwc->editEntry(bill, [](TGDEntry &e) {
        e.record = true;
        e.extStart = 1;
        e.extStop = 2;
    });
    ASSERT_TRUE(reload());
    bool found = false;
    for (const TGDEntryPtr &e : onDisk("20070314"))
        if (e->title == "The Bill" && e->rawStart == rawStart) {
            EXPECT_EQ(e->recordStatus, "-01 +02");
            found = true;
        }
    EXPECT_TRUE(found);
    EXPECT_TRUE(find("The Bill", "20070314")->record);

    TGDEntryPtr insight = find("Insight", "20070315");
    ASSERT_TRUE(insight);
    kwc->editEntry(insight, [](TGDEntry &e) { e.record = true; });
    ASSERT_TRUE(reload("NoSave"));
    EXPECT_FALSE(find("Insight", "20070315")->record);
    for (const TGDEntryPtr &e : onDisk("20070315"))
        EXPECT_EQ(e->recordStatus, "N");
}

TEST_F(KeywordTest, DayFilesMoreThanTwoNumbersBackAreNotRead)
{
    ASSERT_TRUE(reload());
    const QByteArray before = readFile(output + "/20070312.tgd");
    const int count = slc.fileList().front()->fileCount;
    ASSERT_GT(count, 0);
    today = QDate(2007, 3, 15);
    addRule({ "News" }, { "" }, true);
    ASSERT_TRUE(reload());
    for (const TGDEntryPtr &e : kwc->allTGDEntries())
        EXPECT_NE(e->fileNameDataIsFrom, "20070312");
    EXPECT_EQ(slc.fileList().front()->fileCount, count);
    EXPECT_EQ(readFile(output + "/20070312.tgd"), before); // neither read nor rewritten
    const TGDEntryList all = kwc->allTGDEntries();
    EXPECT_TRUE(std::any_of(all.begin(), all.end(),
        [](const TGDEntryPtr &e) { return e->fileNameDataIsFrom == "20070313"; }));
}

TEST_F(KeywordTest, WritingBeforeAnythingWasReadLeavesTheFilesAlone)
{
    const QByteArray before = readFile(output + "/20070316.tgd");
    kwc->writeOutData();
    EXPECT_EQ(readFile(output + "/20070316.tgd"), before);
    // After the cache is emptied there is nothing left to show or write.
    ASSERT_TRUE(reload());
    for (const QString &day : kWeek)
        QFile::remove(output + "/" + day + ".tgd");
    ASSERT_TRUE(reload("NoSave"));
    EXPECT_TRUE(kwc->allTGDEntries().empty());
}

TEST_F(KeywordTest, UnreadableDayFileCountsZeroAndFailsTheCycle)
{
    QDir().mkpath(output + "/20070319.tgd"); // a folder where a file should be
    rescan();
    EXPECT_FALSE(reload());
    EXPECT_EQ(slc.fileList().back()->fileCount, 0);
    EXPECT_FALSE(kwc->allTGDEntries().empty());
}

TEST_F(KeywordTest, StartUpReloadRunsOnItsOwnWorker)
{
    auto rule = addRule({ "Neighbours" }, { "" }, true);
    KeywordFile::write(kwc->keywordFilePath(), kwc->giveSeqs());
    kwc->setSeqs(KeywordRules {});
    kwc->awakeFromNib(10);
    EXPECT_EQ(kwc->giveSeqs().size(), 1u); // read at once from the file
    QElapsedTimer t;
    t.start();
    while (kwc->allTGDEntries().empty() && t.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    kwc->waitForIdle();
    QCoreApplication::processEvents();
    ASSERT_FALSE(kwc->allTGDEntries().empty());
    bool marked = false;
    for (const TGDEntryPtr &e : allOnDisk())
        marked = marked || (e->title == "Neighbours" && e->recordStatus != "N");
    EXPECT_TRUE(marked);
}

TEST_F(KeywordTest, SelectingDaysFiltersTheFullListInRowOrder)
{
    ASSERT_TRUE(reload());
    std::vector<int> pages;
    slc.setPageDisplay([&](int row) { pages.push_back(row); });
    const TGDEntryList all = kwc->allTGDEntries();

    slc.tableViewSelectionDidChange({ 4, 1 }, 1);
    QCoreApplication::processEvents();
    TGDEntryList expected;
    for (const QString &day : { QString("20070313"), QString("20070316") })
        for (const TGDEntryPtr &e : all)
            if (e->fileNameDataIsFrom == day)
                expected.push_back(e);
    EXPECT_EQ(table.getFileData(), expected); // the same records, not copies
    EXPECT_EQ(pages, std::vector<int> { 1 });

    // A placeholder row names no day and contributes nothing.
    GuideDayRows rows = slc.fileList();
    auto placeholder = std::make_shared<GuideDayRow>();
    placeholder->file = "Loading...";
    rows.push_back(placeholder);
    slc.setFileList(rows);
    slc.tableViewSelectionDidChange({ int(rows.size()) - 1 }, int(rows.size()) - 1);
    EXPECT_TRUE(table.getFileData().empty());

    slc.tableViewSelectionDidChange({ 0 }, 0);
    EXPECT_FALSE(table.getFileData().empty());
    slc.tableViewSelectionDidChange({}, -1);
    EXPECT_TRUE(table.getFileData().empty());
    EXPECT_EQ(pages.back(), -1);
}

TEST_F(KeywordTest, MatchCarryingAChannelPictureIsStoredWithoutIt)
{
    auto rule = addRule({ "Rage" });
    ASSERT_TRUE(reload());
    ASSERT_FALSE(rule->matches->empty());
    rule->matches->front()->channelImage = QVariant::fromValue(QSize(16, 16));
    SystemLogCapture logs;
    rule->keywords = QStringList { "Rage", "Music" };
    kwc->updateMatches(0);
    kwc->flushKeywordFile();
    EXPECT_FALSE(logs.lines().contains("error writing keyword file"));
    const QByteArray xml = readFile(kwc->keywordFilePath());
    EXPECT_FALSE(xml.contains("channelImage"));
    const auto stored = KeywordFile::read(kwc->keywordFilePath());
    ASSERT_TRUE(stored && stored->front()->matches);
    EXPECT_EQ(stored->front()->matches->size(), rule->matches->size());
    EXPECT_EQ(stored->front()->matches->front()->title, "Rage");
}

TEST_F(KeywordTest, EditsFromTheUiThreadDuringCyclesAreNeverLost)
{
    addRule({ "News" }, { "" }, true);
    ASSERT_TRUE(reload());
    std::atomic<bool> stop { false };
    std::atomic<int> cycles { 0 };
    std::thread worker([&] {
        while (!stop) {
            kwc->reloadData(QString());
            ++cycles;
        }
    });

    // Mark every programme of one channel by hand, one at a time, while cycles run.
    QSet<QString> marked;
    QElapsedTimer t;
    t.start();
    size_t next = 0;
    while ((cycles < 6 || next < 60) && t.elapsed() < 30000) {
        const TGDEntryList all = kwc->allTGDEntries();
        TGDEntryList candidates;
        for (const TGDEntryPtr &e : all)
            if (e->channel == "Channel 31")
                candidates.push_back(e);
        if (next < candidates.size()) {
            const TGDEntryPtr e = candidates[next++];
            marked.insert(e->fileNameDataIsFrom + e->rawStart);
            kwc->editEntry(e, [](TGDEntry &x) {
                x.record = true;
                x.extStart = 7;
                x.extStop = 8;
            });
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    }
    stop = true;
    worker.join();
    kwc->waitForIdle();
    kwc->writeOutData();
    QCoreApplication::processEvents();
    EXPECT_GE(cycles.load(), 6);
    ASSERT_GE(marked.size(), 30);

    int found = 0;
    for (const TGDEntryPtr &e : allOnDisk()) {
        if (marked.contains(e->fileNameDataIsFrom + e->rawStart) && e->channel == "Channel 31") {
            ++found;
            EXPECT_EQ(e->recordStatus, "-07 +08") << e->rawStart.toStdString();
        } else if (!e->title.contains("News") && !e->subAndCat.contains("News")
            && !e->description.contains("news") && !e->channel.contains("News")) {
            EXPECT_EQ(e->recordStatus, "N")
                << e->title.toStdString(); // no mark on the wrong programme
        }
    }
    EXPECT_EQ(found, marked.size());
}
