#pragma once

#include "base/UiQueue.h"
#include "guide/TGDEntry.h"
#include "ui/HandDecisions.h"
#include "ui/KeywordRule.h"
#include "ui/KeywordStore.h"
#include "ui/RuleFilters.h"
#include "ui/RuleTableLink.h"

#include <QDate>
#include <QHash>
#include <QMutex>
#include <QObject>
#include <QSet>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
#include <unordered_set>

class SourceListController;
class StatusLog;
class TGDPickerController;

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
//
// Marks have a source. A rule with auto-record marks its matches, recomputed from the
// current rules whenever the programmes or the rules change; a hand decision (a tick, an
// untick, an extension change, --mark) wins over the rules and is kept in HandDecisions,
// so a fetch of the same programme finds it again. A hand edit that leaves a programme as
// the rules alone would have it is no decision: the programme follows the rules again.
//
// Every write (a cycle, a write-out, the prompt store of edits) holds the DataFolderLock,
// taken before the exclusive section; edits themselves never write.
class KeywordController : public QObject, public KeywordStore, public RuleListEditor
{
    Q_OBJECT
public:
    KeywordController(
        SourceListController *slc, TGDPickerController *table, QObject *parent = nullptr);
    ~KeywordController() override;

    void setViews(KeywordViews *views) { views_ = views; }
    void setNowOn(NowOnRefresher *noc) { noc_ = noc; }
    // Where a day file left alone for want of a readable line is reported.
    void setStatusLog(StatusLog *log) { log_ = log; }
    // The day that counts as today for which day files are read (tests).
    void setToday(std::function<QDate()> today) { today_ = std::move(today); }

    // Start-up: reads "Keywords.plist", then starts the reload cycle on a worker of its
    // own `delayMs` later. UI thread.
    void awakeFromNib(int delayMs = 1000);
    // Reads "Keywords.plist" into the rule list (missing or unreadable: no rules).
    void loadRules();
    QString keywordFilePath() const;

    // The rule list becomes these rules (none: empty); the same list changes nothing.
    void setSeqs(const std::optional<KeywordRules> &seqs);
    KeywordRules giveSeqs() const;
    // The full programme list (the records themselves). Any thread.
    TGDEntryList allTGDEntries() const;

    // KeywordStore. Both wait while another cycle or write-out runs.
    bool reloadData(const QString &mode) override;
    void writeOutData() override;
    // The same, answering whether every day file was read and written.
    bool runReloadCycle(const QString &mode);
    bool writeOutDataChecked();
    // Blocks until no cycle, match run or write-out is running or queued.
    void waitForIdle();
    // Every rule's match run on the loaded programmes, marking and storing nothing.
    void previewMatches();

    // One match run for the rule at `index`; queued while a cycle runs.
    void updateMatches(int index);

    // The hand decision for the programmes starting at `rawStart` ("YYYY-MM-DD HH:MM") on
    // `channel` (the channel key, or the shown name in any case): mark with these
    // extensions, or (no extensions) do not record. Reads the day files first when none
    // are loaded. Answers the programmes it found; stored promptly.
    TGDEntryList markProgrammes(const QString &rawStart, const QString &channel, bool record,
        int extStart = 0, int extStop = 0);
    // The decisions file.
    QString handDecisionsPath() const { return decisions_.path(); }
    // Reads the current day files into the full list; sorts it by channel, then start.
    // Answers whether every day file could be read.
    bool loadInData();
    void sortData();
    // The full list's order: by channel key, then start (an invalid start first); stable.
    static void sortByChannelAndStart(TGDEntryList &list);

    // Marks the programmes: "record", and "extStart"/"extStop" (absent: 0).
    static void setRecord(bool record, const TGDEntryList &matches, std::optional<int> padStart,
        std::optional<int> padEnd);
    static QString flipName(const QString &date);

    // Edits from the window; carried out now, or queued behind a running cycle.
    void editEntry(const TGDEntryPtr &entry, std::function<void(TGDEntry &)> change);
    // Changes a rule, then runs its match run and redisplays the rule table.
    void editRule(const KeywordRulePtr &rule, std::function<void(KeywordRule &)> change);

    // RuleListEditor: the rule table's changes to the rule list.
    void setRuleValue(
        const KeywordRulePtr &rule, const QString &key, const QVariant &value) override;
    void appendRule(const KeywordRulePtr &rule) override;
    void removeRules(const KeywordRules &rules) override;
    void dropRules(const KeywordRules &copies, int row, const KeywordRules &moved) override;
    std::vector<std::pair<KeywordRulePtr, KeywordRule>> ruleSnapshot() const override;

    // The rule file is stored this long after the last change asks for it, off the
    // asking thread; writeOutData, flushWrites and destruction store it at once.
    void setKeywordFileDelay(int ms);
    // Edits of marks (and the days they change) are stored this long after the last one,
    // and never later than twice that after the first one waiting.
    void setEditStoreDelay(int ms);
    // Stores now whatever waits to be stored: the rule file, the hand decisions, the days
    // whose marks changed; a day another program replaced meanwhile is read again and
    // written with them. Takes the data-folder lock.
    void flushWrites();

    QString currentOutputFolder() const { return currentOutputFolder_; }

Q_SIGNALS:
    // The programme table was handed a list of this controller's own (every programme at a
    // write-out, none at the end of a reload): the window shows its own choice again.
    // Emitted on the UI thread.
    void tableListReplaced();

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
    // Answers true when the operation had to wait behind a running cycle.
    bool submit(std::function<void()> op);
    void drainPending();

    bool loadInDataLocked();
    // One line where the user looks: the StatusLog, or the system log without one.
    void report(const QString &line);
    void sortDataLocked();
    // Writes the loaded days back (only those in `only`, when given).
    bool writeOutDataLocked(const QSet<QString> *only = nullptr);
    // Answers whether the rule had keywords (so the rule file is to be written). Shows
    // the matches in the programme table and recomputes every mark.
    bool updateMatchesLocked(int index);
    // A rule's match list from the full list, without marking; false without keywords.
    bool runRuleLocked(int index);
    // Every mark from the current rules' matches, then the hand decisions on top; the days
    // whose record fields changed wait to be stored.
    void applyMarksLocked();
    // Every rule's match run on the full list, then applyMarksLocked.
    void rerunRulesLocked();
    // Reads the decisions file (once: adopting the marks the day files hold that no rule
    // explains when there is none yet; later: picking up other programs' changes).
    void loadDecisionsLocked();
    // The hand decision `e` now stands for, or none when it is as the rules would have it.
    void noteHandEditLocked(TGDEntry &e);
    // The stores a writer does, with the lock held and in the exclusive section.
    bool storeLocked();
    void writeKeywordFile();
    // Asks for the rule file / the edits to be stored after the settle delay (in the
    // exclusive section).
    void scheduleKeywordFile();
    void scheduleStore(int delayMs);
    void keywordWriterLoop();
    void redisplayRules();
    const Folded &folded(size_t i);
    TGDEntryPtr currentEntry(const TGDEntryPtr &entry);
    QString outputPath() const;

    SourceListController *slc_;
    TGDPickerController *table_;
    KeywordViews *views_ = nullptr;
    NowOnRefresher *noc_ = nullptr;
    StatusLog *log_ = nullptr;
    std::function<QDate()> today_;
    QString currentOutputFolder_ = QStringLiteral("output");

    mutable QMutex listMutex_; // guards the two vectors' membership for other threads
    KeywordRules seqs_;
    TGDEntryList all_;

    // Owned by the exclusive section.
    // The days read by the last load, with a hash of each file as this program last read
    // or wrote it: a file another program has replaced since is not overwritten.
    QHash<QString, size_t> loadedDays_;
    // A write-out left such a day alone: the writer thread reloads after its store.
    bool staleDays_ = false;
    std::vector<Folded> folded_;
    quint64 generation_ = 0;
    quint64 indexedGeneration_ = ~quint64(0);
    std::unordered_set<const TGDEntry *> currentSet_;
    QHash<QString, TGDEntryPtr> byIdentity_;
    HandDecisions decisions_ { HandDecisions::defaultPath() };
    bool decisionsLoaded_ = false;
    RuleFilterRun ruleFilters_;
    // What the rules alone make of each marked programme.
    std::unordered_map<const TGDEntry *, HandDecision> ruleMarks_;
    // Days whose marks changed since they were last written.
    QSet<QString> dirtyDays_;

    // Standard primitives: a QWaitCondition releases the mutex inside Qt, out of
    // ThreadSanitizer's sight, so every wait would look like a race.
    std::mutex stateMutex_;
    std::condition_variable idle_;
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
    std::chrono::steady_clock::time_point firstAsked_;
    bool writeRequested_ = false;
    bool writerStop_ = false;
    int keywordFileDelayMs_ = 400;
    int editStoreDelayMs_ = 1000;
    std::thread keywordWriter_;
};
