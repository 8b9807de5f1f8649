// Where a mark comes from: hand decisions survive reloads, fetches and restarts; rule
// marks follow the current rules.
#include "support/KeywordWeek.h"
#include "ui/HandDecisions.h"
#include "ui/KeywordFile.h"

#include <QElapsedTimer>
#include <QThread>

namespace
{

// The three programmes every case looks at, all on 13 March 2007.
struct Programme {
    const char *channel, *start;
};
constexpr Programme kRage { "2", "2007-03-13 07:00" }; // no rule matches it
constexpr Programme kLost7 { "7", "2007-03-13 19:30" }; // the rule "Lost" matches both
constexpr Programme kLost61 { "6,61", "2007-03-13 19:30" };

enum class Step {
    MarkRage, // by hand, 3 minutes earlier and 7 later
    UnmarkRage,
    UnmarkLost7,
    RetickLost7, // ticked again, its extensions as the rule left them
    ExtendLost61, // extensions changed by hand: 1 and 2
    Reload,
    Fetch, // the same guide again, every mark "N"
    FetchRetitled, // the same, with a corrected title for Rage
    DeleteRule,
    NarrowRule, // a negative that drops channel 6,61
    ExactOn, // Exact with a keyword that is no whole title
    Restart,
};

struct LifecycleCase {
    const char *name;
    std::vector<Step> steps;
    const char *rage, *lost7, *lost61; // record fields on disk at the end
    // Where each of the three marks comes from: 'h' hand, 'r' the rule "Lost", '-' neither.
    const char *sources;
};

class HandMarksTest : public KeywordWeekTest
{
protected:
    void SetUp() override
    {
        KeywordWeekTest::SetUp();
        kwc->setEditStoreDelay(60000); // stored by the test's own flush unless it waits
        rule = addRule({ "Lost" }, { "" }, true);
        rule->padStart = 5;
        rule->padEnd = 10;
        ASSERT_TRUE(reload());
    }

    TGDEntryPtr find(const Programme &p) const
    {
        for (const TGDEntryPtr &e : kwc->allTGDEntries())
            if (e->channel == p.channel && e->rawStart == p.start)
                return e;
        ADD_FAILURE() << "no programme at " << p.start;
        return nullptr;
    }
    QString onDiskField(const Programme &p) const
    {
        for (const TGDEntryPtr &e : onDisk({ "20070313" }))
            if (e->channel == p.channel && e->rawStart == p.start)
                return e->recordStatus;
        return "missing";
    }
    void edit(const Programme &p, std::function<void(TGDEntry &)> change)
    {
        if (const TGDEntryPtr e = find(p))
            kwc->editEntry(e, std::move(change));
    }
    void fetch(const QString &retitle = {})
    {
        for (const QString &day : kWeek)
            QFile::remove(dayFile(day));
        ASSERT_TRUE(copyKeywordWeek(output));
        if (!retitle.isEmpty()) {
            QByteArray bytes = readFile(dayFile("20070313"));
            bytes.replace("2\t2007-03-13 07:00\t120\tRage\t", "2\t2007-03-13 07:00\t120\t"
                    + retitle.toLatin1() + "\t");
            ASSERT_TRUE(bytes.contains(retitle.toLatin1()));
            ASSERT_TRUE(writeFile(dayFile("20070313"), bytes));
        }
        rescan();
        ASSERT_TRUE(reload("NoSave"));
    }
    void run(Step step)
    {
        switch (step) {
        case Step::MarkRage:
            return edit(kRage, [](TGDEntry &e) {
                e.record = true;
                e.extStart = 3;
                e.extStop = 7;
            });
        case Step::UnmarkRage:
            return edit(kRage, [](TGDEntry &e) { e.record = false; });
        case Step::UnmarkLost7:
            return edit(kLost7, [](TGDEntry &e) { e.record = false; });
        case Step::RetickLost7:
            return edit(kLost7, [](TGDEntry &e) { e.record = true; });
        case Step::ExtendLost61:
            return edit(kLost61, [](TGDEntry &e) {
                e.extStart = 1;
                e.extStop = 2;
            });
        case Step::Reload:
            ASSERT_TRUE(reload());
            return;
        case Step::Fetch:
            return fetch();
        case Step::FetchRetitled:
            return fetch("Rage (corrected)");
        case Step::DeleteRule:
            return kwc->removeRules({ rule });
        case Step::NarrowRule:
            return kwc->editRule(rule, [](KeywordRule &r) { r.negatives = QStringList { "6,61" }; });
        case Step::ExactOn:
            return kwc->editRule(rule, [](KeywordRule &r) {
                r.exact = true;
                r.keywords = QStringList { "lost" };
            });
        case Step::Restart:
            kwc->flushWrites();
            kwc.reset();
            kwc = std::make_unique<KeywordController>(&slc, &table);
            kwc->setToday([this] { return today; });
            kwc->setStatusLog(&log);
            slc.setKeywordController(kwc.get());
            kwc->loadRules();
            ASSERT_TRUE(reload());
            rule = kwc->giveSeqs().at(0);
            return;
        }
    }

    KeywordRulePtr rule;
};

TEST_F(HandMarksTest, HandDecisionsWinAndRuleMarksFollowTheRules)
{
    const LifecycleCase cases[] = {
        { "hand mark survives a reload and a fetch", { Step::MarkRage, Step::Reload, Step::Fetch },
            "-03 +07", "-05 +10", "-05 +10", "hrr" },
        { "a corrected title keeps the decision", { Step::MarkRage, Step::FetchRetitled },
            "-03 +07", "-05 +10", "-05 +10", "hrr" },
        { "hand unmark of a rule match holds", { Step::UnmarkLost7, Step::Reload, Step::Fetch },
            "N", "N", "-05 +10", "-hr" },
        { "rule deleted: its marks go, hand marks stay",
            { Step::MarkRage, Step::ExtendLost61, Step::DeleteRule, Step::Fetch }, "-03 +07", "N",
            "-01 +02", "h-h" },
        { "rule narrowed by a negative", { Step::NarrowRule, Step::Reload }, "N", "-05 +10", "N",
            "-r-" },
        { "Exact on", { Step::MarkRage, Step::ExactOn }, "-03 +07", "N", "N", "h--" },
        { "decisions survive a restart",
            { Step::MarkRage, Step::UnmarkLost7, Step::Restart, Step::Fetch }, "-03 +07", "N",
            "-05 +10", "hhr" },
        { "unticking a hand mark leaves it to the rules",
            { Step::MarkRage, Step::UnmarkRage, Step::Fetch }, "N", "-05 +10", "-05 +10", "-rr" },
        { "a rule match ticked again follows the rule", { Step::UnmarkLost7, Step::RetickLost7 },
            "N", "-05 +10", "-05 +10", "-rr" },
        { "a rule match ticked again, then the rule deleted",
            { Step::UnmarkLost7, Step::RetickLost7, Step::DeleteRule }, "N", "N", "N", "---" },
    };
    // The sources the window shows, with the rule a hand decision overrides.
    const auto expectSources = [this](const char *sources) {
        const Programme programmes[] = { kRage, kLost7, kLost61 };
        for (int i = 0; i < 3; ++i) {
            const TGDEntryPtr e = find(programmes[i]);
            ASSERT_TRUE(e);
            const char got = e->markSource == TGDEntry::MarkSource::Hand ? 'h'
                : e->markSource == TGDEntry::MarkSource::Rule            ? 'r'
                                                                         : '-';
            EXPECT_EQ(got, sources[i]) << programmes[i].channel << " " << programmes[i].start;
            // A Lost mark names its rule while there is one, whoever decides.
            if (i > 0 && got != '-' && !kwc->giveSeqs().empty()) {
                EXPECT_EQ(e->markRule, "Lost");
            }
        }
    };
    for (const LifecycleCase &c : cases) {
        SCOPED_TRACE(c.name);
        // Each case from the guide as fetched, with the rule and no decisions.
        QFile::remove(kwc->handDecisionsPath());
        fetch();
        kwc->setSeqs(KeywordRules {});
        rule = addRule({ "Lost" }, { "" }, true);
        rule->padStart = 5;
        rule->padEnd = 10;
        ASSERT_TRUE(reload());
        ASSERT_EQ(onDiskField(kLost7), "-05 +10");
        for (Step step : c.steps)
            run(step);
        kwc->flushWrites();
        expectSources(c.sources);
        EXPECT_EQ(onDiskField(kRage), c.rage);
        EXPECT_EQ(onDiskField(kLost7), c.lost7);
        EXPECT_EQ(onDiskField(kLost61), c.lost61);
        // What the memory holds is what the disk holds: one more cycle changes nothing.
        const QByteArray before = readFile(dayFile("20070313"));
        ASSERT_TRUE(reload());
        EXPECT_EQ(readFile(dayFile("20070313")), before);
        expectSources(c.sources);
    }
}

// A rule's stored matches are copies of the programmes: a tick on one marks the loaded
// programme, and the copy shows it.
TEST_F(HandMarksTest, ATickOnACopiedMatchMarksTheProgrammeAndShowsOnTheCopy)
{
    const TGDEntryPtr loaded = find(kRage);
    ASSERT_TRUE(loaded);
    const auto copy = std::make_shared<TGDEntry>(*loaded);
    kwc->editEntry(copy, [](TGDEntry &e) { e.record = true; });
    kwc->waitForIdle();
    EXPECT_TRUE(loaded->record);
    EXPECT_TRUE(copy->record);
    kwc->flushWrites();
    EXPECT_EQ(onDiskField(kRage), "Y");
}

TEST_F(HandMarksTest, TheFirstStartAdoptsTheMarksNoRuleExplains)
{
    // Day files as an earlier version left them: the rule's marks, and marks by hand.
    kwc.reset();
    QFile::remove(HandDecisions::defaultPath());
    ASSERT_TRUE(KeywordFile::write(Paths::applicationSupportFolder() + "/Keywords.plist",
        KeywordRules { rule }));
    for (const QString &day : kWeek)
        QFile::remove(dayFile(day));
    ASSERT_TRUE(copyKeywordWeek(output));
    QByteArray bytes = readFile(dayFile("20070313"));
    auto mark = [&bytes](const Programme &p, const QByteArray &field) {
        const QByteArray head = QByteArray(p.channel) + "\t" + p.start + "\t";
        const qsizetype at = bytes.indexOf(head);
        ASSERT_GE(at, 0);
        qsizetype end = bytes.indexOf('\n', at);
        if (bytes.at(end - 1) == '\r')
            --end;
        const qsizetype last = bytes.lastIndexOf('\t', end) + 1;
        bytes.replace(last, end - last, field);
    };
    mark(kRage, "Y");
    mark(kLost7, "-05 +10"); // the rule's own
    mark(kLost61, "-01 +01"); // the rule's match, extended by hand
    ASSERT_TRUE(writeFile(dayFile("20070313"), bytes));

    kwc = std::make_unique<KeywordController>(&slc, &table);
    kwc->setToday([this] { return today; });
    kwc->setStatusLog(&log);
    slc.setKeywordController(kwc.get());
    kwc->loadRules();
    ASSERT_TRUE(QFileInfo::exists(kwc->handDecisionsPath()));
    // The next fetch brings the guide back unmarked; the adopted marks come back on it.
    fetch();
    EXPECT_EQ(onDiskField(kRage), "Y");
    EXPECT_EQ(onDiskField(kLost61), "-01 +01");
    EXPECT_EQ(onDiskField(kLost7), "-05 +10");
    // The rule's own mark was never adopted: it goes with the rule.
    kwc->removeRules(kwc->giveSeqs());
    kwc->flushWrites();
    EXPECT_EQ(onDiskField(kLost7), "N");
    EXPECT_EQ(onDiskField(kLost61), "-01 +01");
    // Adopted once: a later start takes the file as it is.
    const QByteArray decisions = readFile(kwc->handDecisionsPath());
    kwc->loadRules();
    ASSERT_TRUE(reload());
    EXPECT_EQ(readFile(kwc->handDecisionsPath()), decisions);
}

TEST_F(HandMarksTest, ATickReachesItsDayFileWithinTwoSeconds)
{
    kwc->setEditStoreDelay(1000);
    const QByteArray otherDay = readFile(dayFile("20070314"));
    const QDateTime otherTime = QFileInfo(dayFile("20070314")).lastModified();
    QThread::msleep(20);
    run(Step::MarkRage);
    QElapsedTimer t;
    t.start();
    while (onDiskField(kRage) != "-03 +07" && t.elapsed() < 4000)
        QThread::msleep(50);
    EXPECT_EQ(onDiskField(kRage), "-03 +07");
    EXPECT_LE(t.elapsed(), 2500);
    // Only the day that changed is written.
    EXPECT_EQ(readFile(dayFile("20070314")), otherDay);
    EXPECT_EQ(QFileInfo(dayFile("20070314")).lastModified(), otherTime);
}

TEST_F(HandMarksTest, MarkByStartAndChannelKeyOrShownName)
{
    struct {
        const char *start, *channel;
        bool record;
        int before, after;
        int found;
        const char *field; // of Rage afterwards
    } const rows[] = {
        { "2007-03-13 07:00", "2", true, 3, 7, 1, "-03 +07" },
        { "2007-03-13 07:00", "abc", true, 0, 0, 1, "Y" }, // the shown name, any case
        { "2007-03-13 07:00", "2", false, 0, 0, 1, "N" },
        { "2007-03-13 07:01", "2", true, 0, 0, 0, "N" }, // no programme starts then
        { "2007-03-13 07:00", "ABC2", true, 0, 0, 0, "N" },
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(std::string(r.start) + " " + r.channel);
        EXPECT_EQ(int(kwc->markProgrammes(r.start, r.channel, r.record, r.before, r.after).size()),
            r.found);
        kwc->flushWrites();
        EXPECT_EQ(onDiskField(kRage), r.field);
    }
    // A hand "don't record" of a rule match.
    ASSERT_EQ(kwc->markProgrammes(kLost7.start, "Seven", false).size(), 1u);
    fetch();
    EXPECT_EQ(onDiskField(kLost7), "N");
    EXPECT_EQ(onDiskField(kLost61), "-05 +10");
}

// A conversion by another program replaced a day while this one held it: the write-out
// leaves the new day alone (and says so); the next edit's store reads it again, and the
// hand decisions reach it.
TEST_F(HandMarksTest, ADayAnotherProgramReplacedIsNotOverwritten)
{
    const QByteArray replaced = readFile(dayFile("20070313")).replace("\tLost\t", "\tFound\t");
    ASSERT_TRUE(writeFile(dayFile("20070313"), replaced));
    run(Step::MarkRage);
    EXPECT_TRUE(kwc->writeOutDataChecked());
    EXPECT_EQ(readFile(dayFile("20070313")), replaced);
    EXPECT_TRUE(log.text().contains("20070313.tgd was replaced by another Pallaro program"))
        << log.text().toStdString();
    // The next edit's store reads the new day again and puts the decisions on it.
    kwc->setEditStoreDelay(100);
    edit(kRage, [](TGDEntry &e) {
        e.extStart = 4;
        e.extStop = 8;
    });
    QElapsedTimer t;
    t.start();
    while (onDiskField(kRage) != "-04 +08" && t.elapsed() < 5000)
        QThread::msleep(50);
    EXPECT_EQ(onDiskField(kRage), "-04 +08");
    EXPECT_TRUE(readFile(dayFile("20070313")).contains("\tFound\t"));
    kwc->waitForIdle();
}

// Two programs deciding at once: neither loses the other's decision; past days go.
TEST(HandDecisionsFile, SavesMergeAndPrunePastDays)
{
    TempHome home;
    QDir().mkpath(Paths::applicationSupportFolder());
    const QString path = HandDecisions::defaultPath();
    const QDate today(2026, 12, 7);
    HandDecisions window(path), command(path);
    window.load();
    command.load();
    window.set("7", "2026-12-07 20:30", HandDecision { true, 3, 7, "News" });
    window.set("2", "2026-12-04 20:30", HandDecision { true, 0, 0, "Too old" });
    window.set("2", "2026-12-05 00:10", HandDecision { true, 0, 0, "Oldest read" });
    command.set("9", "2026-12-08 19:00", HandDecision { false, 0, 0, "Quiz" });
    ASSERT_TRUE(window.save(today));
    ASSERT_TRUE(command.save(today));
    window.set("7", "2026-12-07 20:30", std::nullopt);
    ASSERT_TRUE(window.save(today));

    HandDecisions fresh(path);
    ASSERT_EQ(fresh.load(), HandDecisions::Read::Read);
    EXPECT_EQ(fresh.size(), 2);
    EXPECT_FALSE(fresh.find("7", "2026-12-07 20:30"));
    EXPECT_FALSE(fresh.find("2", "2026-12-04 20:30"));
    ASSERT_TRUE(fresh.find("2", "2026-12-05 00:10"));
    const std::optional<HandDecision> quiz = fresh.find("9", "2026-12-08 19:00");
    ASSERT_TRUE(quiz);
    EXPECT_FALSE(quiz->record);

    // A damaged file is set aside, said, and not overwritten by a smaller one.
    ASSERT_TRUE(writeFile(path, "{ not json"));
    QString problem;
    EXPECT_EQ(fresh.load(&problem), HandDecisions::Read::SetAside);
    EXPECT_TRUE(problem.contains("HandDecisions.json.damaged")) << problem.toStdString();
    EXPECT_EQ(readFile(path + ".damaged"), "{ not json");
}

} // namespace
