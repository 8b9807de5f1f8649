#include "app/EPGController.h"
#include "base/Paths.h"
#include "base/Settings.h"
#include "base/StatusLog.h"
#include "guide/TGDFile.h"
#include "support/TempHome.h"
#include "ui/KeywordController.h"
#include "ui/KeywordFile.h"
#include "ui/KeywordRuleTable.h"
#include "ui/SourceListController.h"
#include "ui/TGDPickerController.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <atomic>
#include <ctime>
#include "support/KeywordWeek.h"

#include <gtest/gtest.h>
#include <set>
#include <thread>

namespace
{

class RecordingRuleView : public RuleTableView
{
public:
    void showRules() override { ++redisplays; }
    void showSelection(const std::vector<int> &rows) override { shownSelection = rows; }
    void runAlert(const RuleAlert &a, std::function<void(bool)> answer) override
    {
        alerts.push_back(a);
        pending = std::move(answer);
    }
    void beep() override { ++beeps; }

    int redisplays = 0;
    int beeps = 0;
    std::vector<int> shownSelection;
    std::vector<RuleAlert> alerts;
    std::function<void(bool)> pending;
};

class RuleTableTest : public ::testing::Test
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
        kwc = std::make_unique<KeywordController>(&slc, &programmes);
        kwc->setToday([] { return QDate(2007, 3, 12); });
        slc.setKeywordController(kwc.get());
        slc.setProgrammeTable(&programmes);
        epg.loadExistingTGDs(QDate(2007, 3, 12));
        rules = std::make_unique<KeywordRuleTable>(kwc.get(), &programmes);
        rules->setView(&view);
        kwc->setViews(rules.get());
        QCoreApplication::processEvents();
    }
    void TearDown() override
    {
        kwc->setViews(nullptr);
        rules.reset();
        kwc.reset();
        qunsetenv("TZ");
        tzset();
    }

    // Adds a rule through the table and gives it these keywords.
    KeywordRulePtr add(const QStringList &keywords)
    {
        rules->addBlankRecord();
        const int row = rules->numberOfRows() - 1;
        if (!keywords.isEmpty())
            rules->setObjectValue(keywords, "Keywords", row);
        QCoreApplication::processEvents();
        return rules->ruleAt(row);
    }
    QStringList firstKeywords() const
    {
        QStringList out;
        for (const KeywordRulePtr &r : kwc->giveSeqs())
            out << (r->keywords.isEmpty() ? QString("-") : r->keywords.front());
        return out;
    }
    TGDEntryList onDisk(const QString &day) const
    {
        return TGDFile::parse(readFile(output + "/" + day + ".tgd"), day);
    }
    void drag(std::vector<int> rows, int to, bool expectOk = true)
    {
        const QByteArray payload = rules->writeRows(rows);
        EXPECT_EQ(rules->acceptDrop(payload, to, RuleDragSource::ThisTable), expectOk);
        QCoreApplication::processEvents();
    }

    TempHome home;
    QString output;
    StatusLog log;
    EPGController epg { &log };
    SourceListController slc;
    TGDPickerController programmes;
    std::unique_ptr<KeywordController> kwc;
    std::unique_ptr<KeywordRuleTable> rules;
    RecordingRuleView view;
};

} // namespace

TEST_F(RuleTableTest, DraggingMovesCopiesByIdentityAndSelectsThem)
{
    kwc->setKeywordFileDelay(60000);
    const KeywordRulePtr a = add({ "A" }), b = add({ "B" }), c = add({ "C" });
    kwc->flushKeywordFile();
    const QByteArray stored = readFile(kwc->keywordFilePath());

    // Rule 0 below rule 2: the original goes, a copy lands last and is selected.
    drag({ 0 }, 3);
    EXPECT_EQ(firstKeywords(), QStringList({ "B", "C", "A" }));
    const KeywordRules after = kwc->giveSeqs();
    EXPECT_NE(after[2], a);
    EXPECT_EQ(after[0], b);
    EXPECT_EQ(rules->selectedRows(), std::vector<int>({ 2 }));
    EXPECT_EQ(view.shownSelection, std::vector<int>({ 2 }));

    // Two rows that are not next to each other, to the top: first, in their old order.
    drag({ 0, 2 }, 0);
    EXPECT_EQ(firstKeywords(), QStringList({ "B", "A", "C" }));
    EXPECT_EQ(rules->selectedRows(), std::vector<int>({ 0, 1 }));
    EXPECT_EQ(kwc->giveSeqs()[2], c); // not dragged: still the rule itself
    EXPECT_EQ(kwc->giveSeqs()[2]->keywords, QStringList { "C" });

    // Just past the last row is a place to drop; beyond it is not, nor from outside.
    EXPECT_TRUE(rules->validateDrop(3, RuleDragSource::ThisTable));
    EXPECT_FALSE(rules->validateDrop(4, RuleDragSource::ThisTable));
    EXPECT_FALSE(rules->validateDrop(0, RuleDragSource::Outside));
    drag({ 0 }, 4, false);
    EXPECT_EQ(firstKeywords(), QStringList({ "B", "A", "C" }));
    drag({ 1 }, 3);
    EXPECT_EQ(firstKeywords(), QStringList({ "B", "C", "A" }));

    // A copy from another view is added without taking anything away.
    EXPECT_TRUE(rules->acceptDrop(
        KeywordFile::toXml({ kwc->giveSeqs()[0] }), 1, RuleDragSource::OtherView));
    EXPECT_EQ(firstKeywords(), QStringList({ "B", "B", "C", "A" }));

    // Reordering is stored with the next change, not by the drop itself.
    kwc->flushKeywordFile();
    EXPECT_EQ(readFile(kwc->keywordFilePath()), stored);
}

TEST_F(RuleTableTest, DeleteAsksFirstAndRemovesExactlyTheSelectedRules)
{
    const KeywordRulePtr blank1 = add({}), blank2 = add({}), lost = add({ "Lost" });
    ASSERT_EQ(KeywordFile::toXml({ blank1 }), KeywordFile::toXml({ blank2 }));

    rules->deleteRecord(); // nothing selected: no question
    EXPECT_EQ(view.beeps, 0);
    EXPECT_TRUE(view.alerts.empty());

    rules->selectionDidChange({ 1 });
    rules->deleteRecord();
    EXPECT_EQ(view.beeps, 1);
    ASSERT_EQ(view.alerts.size(), 1u);
    EXPECT_EQ(view.alerts[0].title, "Warning!");
    EXPECT_EQ(view.alerts[0].message, "Are you sure you want to delete the selected entry(s)?");
    EXPECT_EQ(view.alerts[0].defaultButton, "Delete");
    EXPECT_EQ(view.alerts[0].alternateButton, "Don't Delete");
    view.pending(false);
    EXPECT_EQ(kwc->giveSeqs(), (KeywordRules { blank1, blank2, lost }));
    EXPECT_EQ(rules->selectedRows(), std::vector<int>({ 1 }));

    kwc->setKeywordFileDelay(60000);
    QFile::remove(kwc->keywordFilePath());
    rules->deleteRecord();
    view.pending(true);
    // The other blank rule, equal in content, stays; the file is stored at once.
    EXPECT_EQ(kwc->giveSeqs(), (KeywordRules { blank1, lost }));
    EXPECT_EQ(rules->numberOfRows(), 2);
    EXPECT_TRUE(rules->selectedRows().empty());
    const auto stored = KeywordFile::read(kwc->keywordFilePath());
    ASSERT_TRUE(stored);
    ASSERT_EQ(stored->size(), 2u);
    EXPECT_TRUE(stored->at(0)->keywords.isEmpty());
    EXPECT_EQ(stored->at(1)->keywords, QStringList { "Lost" });
}

TEST_F(RuleTableTest, TurningAutoRecordOnMarksTheMatchesAtOnceAndTheDayFilesHoldThem)
{
    ASSERT_TRUE(kwc->runReloadCycle(QString()));
    const KeywordRulePtr rage = add({ "Rage" });
    QCoreApplication::processEvents();
    ASSERT_TRUE(rage->matches && !rage->matches->empty());
    for (const TGDEntryPtr &e : *rage->matches)
        ASSERT_FALSE(e->record);

    rules->setObjectValue(true, "autoRecord", 0);
    QCoreApplication::processEvents();
    for (const TGDEntryPtr &e : *rage->matches)
        EXPECT_TRUE(e->record);
    EXPECT_EQ(programmes.getFileData(), *rage->matches);
    EXPECT_EQ(rules->objectValue("autoRecord", 0), QVariant(true));
    EXPECT_EQ(rules->objectValue("NumberMatches", 0), int(rage->matches->size()));

    kwc->writeOutData();
    int marked = 0;
    for (const QString &day : kWeek)
        for (const TGDEntryPtr &e : onDisk(day)) {
            const bool isRage = e->title.contains("Rage", Qt::CaseInsensitive)
                || e->subAndCat.contains("Rage", Qt::CaseInsensitive);
            const bool record = e->recordStatus != "N";
            EXPECT_EQ(record, isRage) << e->title.toStdString();
            marked += record;
        }
    EXPECT_EQ(marked, int(rage->matches->size()));
}

TEST_F(RuleTableTest, SelectedRulesShowTheirMatchesWithSharedProgrammesOnce)
{
    ASSERT_TRUE(kwc->runReloadCycle(QString()));
    const KeywordRulePtr lost = add({ "Lost" });
    const KeywordRulePtr prime = add({ "Lost", "6,61" });
    add({}); // never run: contributes nothing
    QCoreApplication::processEvents();
    ASSERT_GT(lost->matches->size(), prime->matches->size());
    ASSERT_FALSE(prime->matches->empty());

    rules->selectionDidChange({ 2, 1, 0 });
    QCoreApplication::processEvents();
    const TGDEntryList shown = programmes.getFileData();
    std::set<const TGDEntry *> unique;
    for (const TGDEntryPtr &e : shown)
        unique.insert(e.get());
    EXPECT_EQ(unique.size(), shown.size());
    ASSERT_EQ(shown.size(), lost->matches->size());
    // The shared ones stand where the later rule has them: at the end, in its order.
    const TGDEntryList tail(shown.end() - qsizetype(prime->matches->size()), shown.end());
    EXPECT_EQ(tail, *prime->matches);

    rules->selectionDidChange({});
    QCoreApplication::processEvents();
    EXPECT_TRUE(programmes.getFileData().empty());
}

TEST_F(RuleTableTest, ADeferredRuleFileIsStoredBeforeExitAndAfterTheEditsSettle)
{
    ASSERT_TRUE(kwc->runReloadCycle(QString()));
    kwc->setKeywordFileDelay(60000);
    add({ "Rage" });
    QCoreApplication::processEvents();
    auto stored = KeywordFile::read(kwc->keywordFilePath());
    EXPECT_TRUE(!stored || stored->empty() || stored->front()->keywords != QStringList { "Rage" });

    // The exit path (writeOutData) stores it.
    kwc->writeOutData();
    stored = KeywordFile::read(kwc->keywordFilePath());
    ASSERT_TRUE(stored && stored->size() == 1);
    EXPECT_EQ(stored->front()->keywords, QStringList { "Rage" });

    // So does going away with a change still waiting.
    rules->setObjectValue(QStringList { "Rage", "Music" }, "Keywords", 0);
    rules.reset();
    kwc->setViews(nullptr);
    kwc.reset();
    stored = KeywordFile::read(Paths::applicationSupportFolder() + "/Keywords.plist");
    ASSERT_TRUE(stored && stored->size() == 1);
    EXPECT_EQ(stored->front()->keywords, QStringList({ "Rage", "Music" }));
    EXPECT_TRUE(stored->front()->matches && !stored->front()->matches->empty());

    // Left alone, the writer stores the latest edit by itself once edits stop.
    kwc = std::make_unique<KeywordController>(&slc, &programmes);
    kwc->setToday([] { return QDate(2007, 3, 12); });
    kwc->loadRules();
    kwc->setKeywordFileDelay(50);
    const KeywordRulePtr rule = kwc->giveSeqs().front();
    kwc->setRuleValue(rule, "Keywords", QStringList { "Doctor" });
    kwc->setRuleValue(rule, "Keywords", QStringList { "Doctor Who" });
    QElapsedTimer t;
    t.start();
    do {
        stored = KeywordFile::read(kwc->keywordFilePath());
        if (stored && stored->size() == 1
            && stored->front()->keywords == QStringList { "Doctor Who" })
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } while (t.elapsed() < 5000);
    EXPECT_EQ(stored->front()->keywords, QStringList { "Doctor Who" });
    EXPECT_EQ(int(stored->front()->matches->size()), rule->numberMatches);
}

TEST_F(RuleTableTest, RuleEditsDuringReloadCyclesAreNeverLost)
{
    ASSERT_TRUE(kwc->runReloadCycle(QString()));
    const KeywordRulePtr rule = add({ "News" });
    kwc->setKeywordFileDelay(0);
    std::atomic<bool> stop { false };
    std::thread worker([&] {
        while (!stop)
            kwc->reloadData(QString());
    });
    const QStringList titles = { "Lost", "Rage", "Doctor Who", "Catalyst", "Landline" };
    for (int i = 0; i < 40; ++i) {
        rules->setObjectValue(QStringList { titles[i % titles.size()] }, "Keywords", 0);
        rules->setObjectValue(i % 2 == 0, "autoRecord", 0);
        QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
    }
    stop = true;
    worker.join();
    kwc->waitForIdle();
    kwc->writeOutData();
    QCoreApplication::processEvents();

    // The last edit stands everywhere: in the rule, the table's row and the file.
    EXPECT_EQ(rule->keywords, QStringList { "Landline" });
    EXPECT_EQ(rule->autoRecord, std::optional<bool>(false));
    EXPECT_EQ(rules->objectValue("Keywords", 0), QStringList { "Landline" });
    const auto stored = KeywordFile::read(kwc->keywordFilePath());
    ASSERT_TRUE(stored && stored->size() == 1);
    EXPECT_EQ(stored->front()->keywords, QStringList { "Landline" });
    EXPECT_EQ(stored->front()->autoRecord, std::optional<bool>(false));
    ASSERT_TRUE(rule->matches);
    for (const TGDEntryPtr &e : *rule->matches)
        EXPECT_TRUE(e->title.contains("Landline") || e->subAndCat.contains("Landline"));
}

TEST_F(RuleTableTest, RulesReadAtStartUpAreShownWithTheirStoredMatches)
{
    auto stored = KeywordController::createBlankSeq();
    stored->keywords = QStringList { "Lost" };
    auto match = std::make_shared<TGDEntry>();
    match->title = "Lost";
    stored->matches = TGDEntryList { match };
    ASSERT_TRUE(KeywordFile::write(
        kwc->keywordFilePath(), { stored, KeywordController::createBlankSeq() }));
    kwc->loadRules();
    QCoreApplication::processEvents();
    ASSERT_EQ(rules->numberOfRows(), 2);
    EXPECT_EQ(rules->objectValue("Keywords", 0), QStringList { "Lost" });
    rules->selectionDidChange({ 0 });
    QCoreApplication::processEvents();
    ASSERT_EQ(programmes.getFileData().size(), 1u);
    EXPECT_EQ(programmes.getFileData().front()->title, "Lost");
}
