#include "support/KeywordWeek.h"
#include "ui/KeywordFile.h"
#include "ui/KeywordRuleTable.h"

#include <QElapsedTimer>
#include <atomic>
#include <set>
#include <thread>

namespace
{

class RecordingRuleView : public RuleTableView
{
public:
    void showRules() override { }
    void showSelection(const std::vector<int> &rows) override { shownSelection = rows; }
    void runAlert(const RuleAlert &a, std::function<void(bool)> answer) override
    {
        alerts.push_back(a);
        pending = std::move(answer);
    }
    void beep() override { ++beeps; }

    int beeps = 0;
    std::vector<int> shownSelection;
    std::vector<RuleAlert> alerts;
    std::function<void(bool)> pending;
};

class RuleTableTest : public KeywordWeekTest
{
protected:
    void SetUp() override
    {
        KeywordWeekTest::SetUp();
        rules = std::make_unique<KeywordRuleTable>(kwc.get(), &table);
        rules->setView(&view);
        kwc->setViews(rules.get());
    }
    void TearDown() override
    {
        if (kwc)
            kwc->setViews(nullptr);
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
    void drag(std::vector<int> rows, int to, bool expectOk = true)
    {
        const QByteArray payload = rules->writeRows(rows);
        EXPECT_EQ(rules->acceptDrop(payload, to, RuleDragSource::ThisTable), expectOk);
        QCoreApplication::processEvents();
    }
    std::optional<KeywordRules> stored() const { return KeywordFile::read(kwc->keywordFilePath()); }

    std::unique_ptr<KeywordRuleTable> rules;
    RecordingRuleView view;
};

} // namespace

TEST(RuleList, InsertRulesTakesRowsFromTheTopToJustPastTheEnd)
{
    const KeywordRules seqs { createBlankSeq(), createBlankSeq() }, copy { createBlankSeq() };
    for (int row : { -1, 0, 2, 3 }) {
        const auto out = insertRules(seqs, copy, row, { seqs[0] });
        ASSERT_EQ(bool(out), row == 0 || row == 2) << row;
        if (out) {
            EXPECT_EQ(*out,
                row == 0 ? (KeywordRules { copy[0], seqs[1] })
                         : (KeywordRules { seqs[1], copy[0] }));
        }
    }
}

TEST_F(RuleTableTest, DraggingMovesCopiesByIdentityAndSelectsThem)
{
    kwc->setKeywordFileDelay(60000);
    const KeywordRulePtr a = add({ "A" }), b = add({ "B" }), c = add({ "C" });
    kwc->flushKeywordFile();
    const QByteArray file = readFile(kwc->keywordFilePath());

    // Rule 0 below rule 2: the original goes, a copy lands last and is selected.
    drag({ 0 }, 3);
    EXPECT_EQ(firstKeywords(), QStringList({ "B", "C", "A" }));
    EXPECT_NE(kwc->giveSeqs()[2], a);
    EXPECT_EQ(kwc->giveSeqs()[0], b);
    EXPECT_EQ(view.shownSelection, std::vector<int>({ 2 }));

    // Two rows that are not next to each other, to the top: first, in their old order.
    drag({ 0, 2 }, 0);
    EXPECT_EQ(firstKeywords(), QStringList({ "B", "A", "C" }));
    EXPECT_EQ(rules->selectedRows(), std::vector<int>({ 0, 1 }));
    EXPECT_EQ(kwc->giveSeqs()[2], c); // not dragged: still the rule itself

    // Just past the last row is a place to drop; beyond it is not, nor from outside, nor
    // bytes that are no rule file.
    EXPECT_FALSE(rules->validateDrop(0, RuleDragSource::Outside));
    drag({ 0 }, 4, false);
    EXPECT_FALSE(rules->acceptDrop("garbage", 0, RuleDragSource::ThisTable));
    drag({ 1 }, 3);
    EXPECT_EQ(firstKeywords(), QStringList({ "B", "C", "A" }));

    // A copy from another view is added without taking anything away.
    EXPECT_TRUE(rules->acceptDrop(
        KeywordFile::toXml({ kwc->giveSeqs()[0] }), 1, RuleDragSource::OtherView));
    EXPECT_EQ(firstKeywords(), QStringList({ "B", "B", "C", "A" }));

    // Reordering is stored with the next change, not by the drop itself.
    kwc->flushKeywordFile();
    EXPECT_EQ(readFile(kwc->keywordFilePath()), file);
}

TEST_F(RuleTableTest, DeleteAsksFirstAndRemovesExactlyTheSelectedRules)
{
    const KeywordRulePtr blank1 = add({}), blank2 = add({}), lost = add({ "Lost" });
    rules->deleteRecord(); // nothing selected: no question
    EXPECT_EQ(view.beeps, 0);

    rules->selectionDidChange({ 1, 7 });
    rules->deleteRecord();
    EXPECT_EQ(view.beeps, 1);
    ASSERT_EQ(view.alerts.size(), 1u);
    const RuleAlert &a = view.alerts[0];
    EXPECT_EQ(QStringList({ a.title, a.message, a.defaultButton, a.alternateButton }),
        QStringList({ "Warning!", "Are you sure you want to delete the selected entry(s)?",
            "Delete", "Don't Delete" }));
    view.pending(false);
    EXPECT_EQ(kwc->giveSeqs(), (KeywordRules { blank1, blank2, lost }));

    kwc->setKeywordFileDelay(60000);
    QFile::remove(kwc->keywordFilePath());
    rules->deleteRecord();
    view.pending(true);
    // The other blank rule, equal in content, stays; the file is stored at once.
    EXPECT_EQ(kwc->giveSeqs(), (KeywordRules { blank1, lost }));
    EXPECT_TRUE(rules->selectedRows().empty());
    ASSERT_TRUE(stored() && stored()->size() == 2u);
    EXPECT_EQ(stored()->at(1)->keywords, QStringList { "Lost" });
}

TEST_F(RuleTableTest, TurningAutoRecordOnMarksTheMatchesAtOnce)
{
    ASSERT_TRUE(reload());
    const KeywordRulePtr rage = add({ "Rage" });
    ASSERT_TRUE(rage->matches && !rage->matches->empty());
    rules->setObjectValue(true, "autoRecord", 0);
    rules->setObjectValue(true, "autoRecord", 9); // no such row
    rules->setObjectValue(1, "NoSuchKey", 0);
    EXPECT_EQ(table.getFileData(), *rage->matches);
    for (const TGDEntryPtr &e : *rage->matches)
        EXPECT_TRUE(e->record);
    EXPECT_EQ(rules->objectValue("autoRecord", 0), QVariant(true));
    EXPECT_FALSE(rules->objectValue("autoRecord", 9).isValid());
    EXPECT_FALSE(rules->ruleAt(-1));
}

TEST_F(RuleTableTest, SelectedRulesShowTheirMatchesWithSharedProgrammesOnce)
{
    // Rules read at start-up show the matches stored with them.
    auto storedRule = createBlankSeq();
    storedRule->matches = TGDEntryList { std::make_shared<TGDEntry>() };
    storedRule->matches->front()->title = "Stored";
    ASSERT_TRUE(KeywordFile::write(kwc->keywordFilePath(), { storedRule }));
    kwc->loadRules();
    QCoreApplication::processEvents();
    rules->selectionDidChange({ 0 });
    ASSERT_EQ(table.getFileData().size(), 1u);
    EXPECT_EQ(table.getFileData().front()->title, "Stored");
    kwc->setSeqs(KeywordRules {});

    ASSERT_TRUE(reload());
    const KeywordRulePtr lost = add({ "Lost" }), prime = add({ "Lost", "6,61" });
    add({}); // never run: contributes nothing
    ASSERT_GT(lost->matches->size(), prime->matches->size());
    ASSERT_FALSE(prime->matches->empty());
    rules->selectionDidChange({ 2, 1, 0 });
    const TGDEntryList shown = table.getFileData();
    EXPECT_EQ(std::set<TGDEntryPtr>(shown.begin(), shown.end()).size(), shown.size());
    ASSERT_EQ(shown.size(), lost->matches->size());
    // The shared ones stand where the later rule has them: at the end, in its order.
    EXPECT_EQ(TGDEntryList(shown.end() - qsizetype(prime->matches->size()), shown.end()),
        *prime->matches);
    rules->selectionDidChange({});
    EXPECT_TRUE(table.getFileData().empty());
}

TEST_F(RuleTableTest, ADeferredRuleFileIsStoredBeforeExitAndAfterTheEditsSettle)
{
    ASSERT_TRUE(reload());
    kwc->setKeywordFileDelay(60000);
    add({ "Rage" });
    EXPECT_FALSE(stored() && !stored()->empty());
    kwc->writeOutData(); // the exit path stores it
    ASSERT_TRUE(stored() && stored()->size() == 1);
    EXPECT_EQ(stored()->front()->keywords, QStringList { "Rage" });

    // So does going away with a change still waiting.
    rules->setObjectValue(QStringList { "Rage", "Music" }, "Keywords", 0);
    kwc->setViews(nullptr);
    kwc.reset();
    auto file = KeywordFile::read(Paths::applicationSupportFolder() + "/Keywords.plist");
    ASSERT_TRUE(file && file->size() == 1);
    EXPECT_EQ(file->front()->keywords, QStringList({ "Rage", "Music" }));
    EXPECT_TRUE(file->front()->matches && !file->front()->matches->empty());

    // Left alone, the writer stores the latest edit by itself once edits stop.
    kwc = std::make_unique<KeywordController>(&slc, &table);
    kwc->setToday([this] { return today; });
    kwc->loadRules();
    kwc->setKeywordFileDelay(50);
    const KeywordRulePtr rule = kwc->giveSeqs().front();
    kwc->setRuleValue(rule, "Keywords", QStringList { "Doctor" });
    kwc->setRuleValue(rule, "Keywords", QStringList { "Doctor Who" });
    QElapsedTimer t;
    t.start();
    do {
        file = stored();
        if (file && file->size() == 1 && file->front()->keywords == QStringList { "Doctor Who" })
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } while (t.elapsed() < 5000);
    EXPECT_EQ(file->front()->keywords, QStringList { "Doctor Who" });
    EXPECT_EQ(int(file->front()->matches->size()), rule->numberMatches);
}

TEST_F(RuleTableTest, EditsDuringReloadCyclesAreNeverLost)
{
    ASSERT_TRUE(reload());
    const KeywordRulePtr rule = add({ "News" });
    kwc->setKeywordFileDelay(0);
    std::atomic<bool> stop { false };
    std::atomic<int> cycles { 0 };
    std::thread worker([&] {
        for (; !stop; ++cycles)
            kwc->reloadData(QString());
    });
    // While cycles run: the programmes of one channel are marked by hand one at a time, and
    // the rule's terms and auto-record change (its terms are found nowhere on that channel).
    const QStringList titles = { "Lost", "Rage", "Doctor Who", "Catalyst", "Landline" };
    QSet<QString> marked;
    QElapsedTimer t;
    t.start();
    for (int i = 0; (cycles < 6 || i < 60) && t.elapsed() < 30000; ++i) {
        TGDEntryList candidates;
        for (const TGDEntryPtr &e : kwc->allTGDEntries())
            if (e->channel == "Channel 31")
                candidates.push_back(e);
        if (i < 60 && size_t(i) < candidates.size()) {
            marked.insert(candidates[i]->fileNameDataIsFrom + candidates[i]->rawStart);
            kwc->editEntry(candidates[i], [](TGDEntry &x) {
                x.record = true;
                x.extStart = 7;
                x.extStop = 8;
            });
        }
        if (i < 40) {
            rules->setObjectValue(QStringList { titles[i % titles.size()] }, "Keywords", 0);
            rules->setObjectValue(i % 2 == 0, "autoRecord", 0);
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    }
    stop = true;
    worker.join();
    kwc->writeOutData();
    QCoreApplication::processEvents();
    EXPECT_GE(cycles.load(), 6);
    ASSERT_EQ(marked.size(), 60);

    // Every hand mark is on disk, on its own programme only.
    int found = 0;
    for (const TGDEntryPtr &e : onDisk())
        if (e->channel == "Channel 31") {
            const bool mine = marked.contains(e->fileNameDataIsFrom + e->rawStart);
            found += mine;
            EXPECT_EQ(e->recordStatus, mine ? "-07 +08" : "N") << e->rawStart.toStdString();
        }
    EXPECT_EQ(found, marked.size());
    // The last rule edit stands everywhere: in the rule, the table's row and the file.
    EXPECT_EQ(rules->objectValue("Keywords", 0), QStringList { "Landline" });
    ASSERT_TRUE(stored() && stored()->size() == 1);
    for (const KeywordRulePtr &r : { rule, stored()->front() })
        EXPECT_EQ(std::make_pair(r->keywords, r->autoRecord),
            std::make_pair(QStringList { "Landline" }, std::optional<bool>(false)));
    for (const TGDEntryPtr &e : *rule->matches)
        EXPECT_TRUE(e->title.contains("Landline") || e->subAndCat.contains("Landline"));
}
