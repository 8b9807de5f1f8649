#include "support/KeywordWeek.h"
#include "ui/KeywordFile.h"
#include "ui/KeywordRuleTable.h"

#include <QElapsedTimer>
#include <atomic>
#include <thread>

namespace
{

class RecordingRuleView : public RuleTableView
{
public:
    void showRules() override { }
    void showSelection(const std::vector<int> &) override { }
    void runAlert(const RuleAlert &a, std::function<void(bool)> answer) override
    {
        alerts.push_back(a);
        pending = std::move(answer);
    }
    void beep() override { ++beeps; }

    int beeps = 0;
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
    void TearDown() override { kwc->setViews(nullptr); }

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
    std::optional<KeywordRules> stored() const { return KeywordFile::read(kwc->keywordFilePath()); }

    std::unique_ptr<KeywordRuleTable> rules;
    RecordingRuleView view;
};

} // namespace

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
