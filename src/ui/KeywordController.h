#pragma once

#include "ui/KeywordStore.h"
#include "base/UiQueue.h"
#include "guide/TGDEntry.h"
#include "ui/KeywordRule.h"

#include <QDate>
#include <QHash>
#include <QMutex>
#include <QObject>
#include <QSet>
#include <QWaitCondition>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_set>

class SourceListController;
class TGDPickerController;

// The window's side of the keyword rules. Called on the UI thread only, in request order.
class KeywordViews
{
public:
    virtual ~KeywordViews() = default;
    virtual void showSpinner(bool on) = 0;
    virtual void reloadRuleTable() = 0;
};

// The "Now on" list's refresh.
class NowOnRefresher
{
public:
    virtual ~NowOnRefresher() = default;
    virtual void nowOn() = 0;
};

// Owns the rules and the full programme list; runs the reload cycle that reads every
// current day file, applies the rules and writes the record marks back.
//
// Threads: the cycle runs on whatever thread asks for it (its own start-up worker, a
// fetch worker, or the UI thread). A cycle, a single-rule match run and a write-out never
// overlap: whoever asks while another runs either waits (reloadData, writeOutData) or is
// queued behind it (updateMatches, editEntry, editRule, which are UI-thread edits that must
// not freeze the window). Queued edits are carried out before the running cycle ends; a
// record edit aimed at a programme the cycle has since re-read lands on the re-read copy
// (same day, channel, start and title). View changes go to the UI thread in order.
class KeywordController : public QObject, public KeywordStore
{
    Q_OBJECT
public:
    KeywordController(
        SourceListController *slc, TGDPickerController *table, QObject *parent = nullptr);
    ~KeywordController() override;

    void setViews(KeywordViews *views) { views_ = views; }
    void setNowOn(NowOnRefresher *noc) { noc_ = noc; }
    // The day that counts as today for which day files are read (tests).
    void setToday(std::function<QDate()> today) { today_ = std::move(today); }

    // Start-up: reads "Keywords.plist", then starts the reload cycle on a worker of its
    // own `delayMs` later. UI thread.
    void awakeFromNib(int delayMs = 1000);
    // Reads "Keywords.plist" into the rule list (missing or unreadable: no rules).
    void loadRules();
    QString keywordFilePath() const;

    // A new rule with the defaults, its paddings from "keywordPadStart"/"keywordPadEnd".
    static KeywordRulePtr createBlankSeq();
    // The rule list becomes these rules (none: empty); the same list changes nothing.
    void setSeqs(const std::optional<KeywordRules> &seqs);
    KeywordRules giveSeqs() const;
    // The full programme list (the records themselves). Any thread.
    TGDEntryList allTGDEntries() const;

    // KeywordStore. Both wait while another cycle or write-out runs.
    void reloadData(const QString &mode) override;
    void writeOutData() override;
    // The same, answering whether every day file was read and written.
    bool runReloadCycle(const QString &mode);
    bool writeOutDataChecked();
    // Blocks until no cycle, match run or write-out is running or queued.
    void waitForIdle();

    // One match run for the rule at `index`; queued while a cycle runs.
    void updateMatches(int index);
    // Reads the current day files into the full list; sorts it by channel, then start.
    void loadInData();
    void sortData();

    // Marks the programmes: "record", and "extStart"/"extStop" (absent: 0).
    static void setRecord(bool record, const TGDEntryList &matches, std::optional<int> padStart,
        std::optional<int> padEnd);
    static QString flipName(const QString &date);

    // Edits from the window; carried out now, or queued behind a running cycle.
    void editEntry(const TGDEntryPtr &entry, std::function<void(TGDEntry &)> change);
    // Changes a rule, then runs its match run and redisplays the rule table.
    void editRule(const KeywordRulePtr &rule, std::function<void(KeywordRule &)> change);

    // The rule table's changes to the rule list; each is carried out now or queued behind a
    // running cycle, and redisplays the rule table.
    // Stores `value` under the rule key `key`, then runs the rule's match run.
    void setRuleValue(const KeywordRulePtr &rule, const QString &key, const QVariant &value);
    // Appends `rule` (not stored until the next match run or deletion).
    void appendRule(const KeywordRulePtr &rule);
    // Removes exactly these rules (by identity) and stores the rule file at once.
    void removeRules(const KeywordRules &rules);
    // Inserts `copies` at `row`, then removes `moved` by identity. Not stored.
    void dropRules(const KeywordRules &copies, int row, const KeywordRules &moved);
    // The rules with a copy of each one's values, taken at one moment (any thread).
    std::vector<std::pair<KeywordRulePtr, KeywordRule>> ruleSnapshot() const;

    // The rule file is stored this long after the last change asks for it, off the
    // asking thread; writeOutData, flushKeywordFile and destruction store it at once.
    void setKeywordFileDelay(int ms);
    // Stores the rule file now when a change is waiting to be stored.
    void flushKeywordFile();

    QString currentOutputFolder() const { return currentOutputFolder_; }

private:
    struct Folded {
        QString title, subAndCat, rawStart, channel;
        const QChar *srcTitle = nullptr, *srcSubAndCat = nullptr, *srcRawStart = nullptr,
                    *srcChannel = nullptr;
    };

    // Exclusive section: at most one cycle, match run or write-out at a time. Re-entrant
    // for the thread that holds it.
    void beginExclusive();
    void endExclusive();
    void submit(std::function<void()> op);
    void drainPending();

    bool loadInDataLocked();
    void sortDataLocked();
    bool writeOutDataLocked();
    // Answers whether the rule had keywords (so the rule file is to be written).
    bool updateMatchesLocked(int index, bool inCycle);
    void writeKeywordFile();
    // Asks for the rule file to be stored after the settle delay (in the exclusive section).
    void scheduleKeywordFile();
    void keywordWriterLoop();
    void redisplayRules();
    const Folded &folded(size_t i);
    TGDEntryPtr currentEntry(const TGDEntryPtr &entry);
    QString outputPath() const;

    SourceListController *slc_;
    TGDPickerController *table_;
    KeywordViews *views_ = nullptr;
    NowOnRefresher *noc_ = nullptr;
    std::function<QDate()> today_;
    QString currentOutputFolder_ = QStringLiteral("output");

    mutable QMutex listMutex_; // guards the two vectors' membership for other threads
    KeywordRules seqs_;
    TGDEntryList all_;

    // Owned by the exclusive section.
    QSet<QString> loadedDays_;
    std::vector<Folded> folded_;
    quint64 generation_ = 0;
    quint64 indexedGeneration_ = ~quint64(0);
    std::unordered_set<const TGDEntry *> currentSet_;
    QHash<QString, TGDEntryPtr> byIdentity_;

    QMutex stateMutex_;
    QWaitCondition idle_;
    bool busy_ = false;
    std::thread::id owner_;
    int depth_ = 0;
    std::deque<std::function<void()>> pending_;

    UiQueue ui_ { this };
    std::thread startupWorker_;

    // The deferred rule-file writer. keywordDirty_ is owned by the exclusive section; the
    // rest by writerMutex_.
    bool keywordDirty_ = false;
    std::mutex writerMutex_;
    std::condition_variable writerWake_;
    std::chrono::steady_clock::time_point writeDue_;
    bool writeRequested_ = false;
    bool writerStop_ = false;
    int keywordFileDelayMs_ = 400;
    std::thread keywordWriter_;
};
