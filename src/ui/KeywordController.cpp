#include "ui/KeywordController.h"

#include "base/Clock.h"
#include "base/DataFolderLock.h"
#include "base/Paths.h"
#include "base/SystemLog.h"
#include "ui/KeywordFile.h"
#include "ui/TGDPickerController.h"

#include <QPointer>
#include <QTimer>
#include <algorithm>

namespace
{

QString identityOf(const TGDEntry &e)
{
    return e.fileNameDataIsFrom + QLatin1Char('\t') + e.channel + QLatin1Char('\t') + e.rawStart
        + QLatin1Char('\t') + e.title;
}

} // namespace

KeywordController::KeywordController(
    SourceListController *slc, TGDPickerController *table, QObject *parent)
    : QObject(parent)
    , slc_(slc)
    , table_(table)
    , today_(&Clock::today)
{
    // A hand edit in the table waits for a running reload instead of racing it. The
    // table may outlive this controller (window children go in creation order).
    if (table_)
        table_->setEditor([self = QPointer<KeywordController>(this)](
                              const TGDEntryPtr &entry, std::function<void(TGDEntry &)> change) {
            if (self)
                self->editEntry(entry, std::move(change));
            else
                change(*entry);
        });
}

KeywordController::~KeywordController()
{
    if (startupWorker_.joinable())
        startupWorker_.join();
    waitForIdle();
    {
        std::lock_guard lock(writerMutex_);
        writerStop_ = true;
    }
    writerWake_.notify_all();
    if (keywordWriter_.joinable())
        keywordWriter_.join();
    // A change still waiting for the settle delay is stored before the rules go away.
    flushWrites();
}

void KeywordController::awakeFromNib(int delayMs)
{
    currentOutputFolder_ = QStringLiteral("output");
    loadRules();
    QTimer::singleShot(delayMs, this, [this] {
        if (startupWorker_.joinable())
            return;
        startupWorker_ = std::thread([this] { reloadData(QString()); });
    });
}

QString KeywordController::keywordFilePath() const
{
    return Paths::applicationSupportFolder() + QStringLiteral("/Keywords.plist");
}

QString KeywordController::outputPath() const
{
    return Paths::applicationSupportFolder() + QLatin1Char('/') + currentOutputFolder_;
}

void KeywordController::loadRules()
{
    QString setAside;
    setSeqs(KeywordFile::read(keywordFilePath(), &setAside));
    // Said where the user looks: the next store would otherwise seem to lose the rules.
    if (!setAside.isEmpty())
        report(setAside);
    // Before anything replaces the day files (a fetch), the marks they hold that no rule
    // explains become hand decisions.
    if (!decisions_.exists()) {
        DataFolderLock lock;
        beginExclusive();
        loadDecisionsLocked();
        storeLocked();
        endExclusive();
    }
}

void KeywordController::setSeqs(const std::optional<KeywordRules> &seqs)
{
    beginExclusive();
    {
        QMutexLocker lock(&listMutex_);
        if (!seqs || *seqs != seqs_)
            seqs_ = seqs ? *seqs : KeywordRules {};
    }
    if (!all_.empty())
        rerunRulesLocked();
    redisplayRules();
    endExclusive();
}

KeywordRules KeywordController::giveSeqs() const
{
    QMutexLocker lock(&listMutex_);
    return seqs_;
}

TGDEntryList KeywordController::allTGDEntries() const
{
    QMutexLocker lock(&listMutex_);
    return all_;
}

// ---- exclusive section ------------------------------------------------------------

void KeywordController::beginExclusive()
{
    std::unique_lock lock(stateMutex_);
    if (busy_ && owner_ == std::this_thread::get_id()) {
        ++depth_;
        return;
    }
    while (busy_)
        idle_.wait(lock);
    busy_ = true;
    owner_ = std::this_thread::get_id();
    depth_ = 1;
}

void KeywordController::endExclusive()
{
    for (;;) {
        std::deque<std::function<void()>> ops;
        {
            std::lock_guard lock(stateMutex_);
            if (depth_ > 1) {
                --depth_;
                return;
            }
            if (pending_.empty()) {
                busy_ = false;
                depth_ = 0;
                owner_ = {};
                idle_.notify_all();
                return;
            }
            ops.swap(pending_);
        }
        for (auto &op : ops)
            op();
    }
}

bool KeywordController::submit(std::function<void()> op)
{
    {
        std::lock_guard lock(stateMutex_);
        if (busy_ && owner_ != std::this_thread::get_id()) {
            pending_.push_back(std::move(op));
            return true;
        }
    }
    beginExclusive();
    op();
    endExclusive();
    return false;
}

void KeywordController::drainPending()
{
    for (;;) {
        std::deque<std::function<void()>> ops;
        {
            std::lock_guard lock(stateMutex_);
            if (pending_.empty())
                return;
            ops.swap(pending_);
        }
        for (auto &op : ops)
            op();
    }
}

void KeywordController::waitForIdle()
{
    std::unique_lock lock(stateMutex_);
    if (busy_ && owner_ == std::this_thread::get_id())
        return;
    while (busy_)
        idle_.wait(lock);
}

// ---- edits --------------------------------------------------------------------------

TGDEntryPtr KeywordController::currentEntry(const TGDEntryPtr &entry)
{
    if (indexedGeneration_ != generation_) {
        currentSet_.clear();
        byIdentity_.clear();
        currentSet_.reserve(all_.size());
        byIdentity_.reserve(qsizetype(all_.size()));
        for (const TGDEntryPtr &e : all_) {
            currentSet_.insert(e.get());
            byIdentity_.insert(identityOf(*e), e);
        }
        indexedGeneration_ = generation_;
    }
    if (currentSet_.count(entry.get()))
        return entry;
    return byIdentity_.value(identityOf(*entry));
}

void KeywordController::editEntry(const TGDEntryPtr &entry, std::function<void(TGDEntry &)> change)
{
    if (!entry)
        return;
    submit([this, entry, change = std::move(change)] {
        // A programme re-read since the edit was asked for gets it on its new record; one
        // shown from the rule file's stored matches gets it on the loaded programme.
        TGDEntryPtr target = currentEntry(entry);
        if (!target)
            target = entry;
        const HandDecision before { target->record, target->extStart.value_or(0),
            target->extStop.value_or(0), {} };
        change(*target);
        // The copy the user ticked shows what the loaded programme now holds.
        if (target != entry)
            change(*entry);
        const HandDecision after { target->record, target->extStart.value_or(0),
            target->extStop.value_or(0), {} };
        if (!before.sameAs(after))
            noteHandEditLocked(*target);
    });
}

void KeywordController::noteHandEditLocked(TGDEntry &e)
{
    const HandDecision mine { e.record, e.extStart.value_or(0), e.extStop.value_or(0), e.title };
    const auto rule = ruleMarks_.find(&e);
    const HandDecision rules = rule != ruleMarks_.end() ? rule->second : HandDecision {};
    const bool ownDecision = !mine.sameAs(rules);
    decisions_.set(
        e.channel, e.rawStart, ownDecision ? std::optional<HandDecision>(mine) : std::nullopt);
    e.markSource = ownDecision     ? TGDEntry::MarkSource::Hand
        : rule != ruleMarks_.end() ? TGDEntry::MarkSource::Rule
                                   : TGDEntry::MarkSource::None;
    dirtyDays_.insert(e.fileNameDataIsFrom);
    scheduleStore(editStoreDelayMs_);
}

TGDEntryList KeywordController::markProgrammes(
    const QString &rawStart, const QString &channel, bool record, int extStart, int extStop)
{
    TGDEntryList found;
    submit([&] {
        if (all_.empty()) {
            loadInDataLocked();
            sortDataLocked();
            loadDecisionsLocked();
            rerunRulesLocked();
        }
        for (const TGDEntryPtr &e : all_) {
            if (e->rawStart != rawStart
                || (e->channel.compare(channel, Qt::CaseInsensitive) != 0
                    && e->dispChannelString.compare(channel, Qt::CaseInsensitive) != 0))
                continue;
            found.push_back(e);
            e->record = record;
            if (record) {
                e->extStart = extStart;
                e->extStop = extStop;
            }
            noteHandEditLocked(*e);
        }
    });
    // Queued behind a running cycle, the answer comes when the cycle has carried it out.
    waitForIdle();
    return found;
}

void KeywordController::editRule(
    const KeywordRulePtr &rule, std::function<void(KeywordRule &)> change)
{
    if (!rule)
        return;
    submit([this, rule, change = std::move(change)] {
        {
            QMutexLocker lock(&listMutex_);
            change(*rule);
        }
        const auto it = std::find(seqs_.begin(), seqs_.end(), rule);
        if (it != seqs_.end() && updateMatchesLocked(int(it - seqs_.begin())))
            scheduleKeywordFile();
        else
            applyMarksLocked(); // auto-record off on a rule without keywords, say
        redisplayRules();
    });
}

void KeywordController::setRuleValue(
    const KeywordRulePtr &rule, const QString &key, const QVariant &value)
{
    editRule(rule, [key, value](KeywordRule &r) { r.setValue(key, value); });
}

void KeywordController::appendRule(const KeywordRulePtr &rule)
{
    if (!rule)
        return;
    submit([this, rule] {
        {
            QMutexLocker lock(&listMutex_);
            seqs_.push_back(rule);
        }
        redisplayRules();
    });
}

void KeywordController::removeRules(const KeywordRules &rules)
{
    const bool queued = submit([this, rules] {
        {
            QMutexLocker lock(&listMutex_);
            seqs_.erase(std::remove_if(seqs_.begin(), seqs_.end(),
                            [&](const KeywordRulePtr &r) { return containsRule(rules, r); }),
                seqs_.end());
        }
        // The deleted rules' marks go with them.
        applyMarksLocked();
        keywordDirty_ = true;
        redisplayRules();
    });
    // Behind a cycle, the cycle stores it; otherwise it is stored at once.
    if (!queued)
        flushWrites();
}

void KeywordController::dropRules(const KeywordRules &copies, int row, const KeywordRules &moved)
{
    submit([this, copies, row, moved] {
        if (auto order = insertRules(seqs_, copies, row, moved)) {
            {
                QMutexLocker lock(&listMutex_);
                seqs_ = std::move(*order);
            }
            // The later rule's extensions win; the dropped copies match afresh.
            rerunRulesLocked();
        }
        redisplayRules();
    });
}

std::vector<std::pair<KeywordRulePtr, KeywordRule>> KeywordController::ruleSnapshot() const
{
    QMutexLocker lock(&listMutex_);
    std::vector<std::pair<KeywordRulePtr, KeywordRule>> rows;
    rows.reserve(seqs_.size());
    for (const KeywordRulePtr &r : seqs_)
        rows.emplace_back(r, *r);
    return rows;
}

void KeywordController::redisplayRules()
{
    ui_.run([this] {
        if (views_)
            views_->reloadRuleTable();
    });
}

// ---- the rule file ------------------------------------------------------------------

void KeywordController::setKeywordFileDelay(int ms)
{
    std::lock_guard lock(writerMutex_);
    keywordFileDelayMs_ = ms;
}

void KeywordController::setEditStoreDelay(int ms)
{
    std::lock_guard lock(writerMutex_);
    editStoreDelayMs_ = ms;
}

void KeywordController::scheduleKeywordFile()
{
    keywordDirty_ = true;
    int delay;
    {
        std::lock_guard lock(writerMutex_);
        delay = keywordFileDelayMs_;
    }
    scheduleStore(delay);
}

void KeywordController::scheduleStore(int delayMs)
{
    {
        std::lock_guard lock(writerMutex_);
        if (writerStop_)
            return; // the destructor stores it
        const auto now = std::chrono::steady_clock::now();
        if (!writeRequested_)
            firstAsked_ = now;
        // Each new change moves the deadline, but edits never wait longer than twice the
        // delay: a steady run of ticks still reaches the disk.
        writeDue_ = std::min(now + std::chrono::milliseconds(delayMs),
            firstAsked_ + std::chrono::milliseconds(2 * std::max(delayMs, editStoreDelayMs_)));
        writeRequested_ = true;
        if (!keywordWriter_.joinable())
            keywordWriter_ = std::thread([this] { keywordWriterLoop(); });
    }
    writerWake_.notify_all();
}

void KeywordController::keywordWriterLoop()
{
    std::unique_lock lock(writerMutex_);
    for (;;) {
        writerWake_.wait(lock, [this] { return writerStop_ || writeRequested_; });
        if (writerStop_)
            return;
        // Each new change moves the deadline: the file is stored once the edits settle.
        if (std::chrono::steady_clock::now() < writeDue_) {
            writerWake_.wait_until(lock, writeDue_);
            continue;
        }
        writeRequested_ = false;
        lock.unlock();
        flushWrites();
        lock.lock();
    }
}

void KeywordController::flushWrites()
{
    // A program that only read (--now-on) takes no lock and leaves no trace.
    beginExclusive();
    const bool pending = keywordDirty_ || decisions_.hasUnsavedChanges() || !dirtyDays_.isEmpty();
    endExclusive();
    if (!pending)
        return;
    DataFolderLock lock;
    beginExclusive();
    storeLocked();
    const bool stale = std::exchange(staleDays_, false);
    endExclusive();
    // A day another program replaced is read again, with the rules and the hand decisions
    // on it, so that an edit made here still reaches it before the lock is let go.
    if (stale)
        runReloadCycle(QStringLiteral("NoSave"));
}

bool KeywordController::storeLocked()
{
    bool ok = true;
    if (keywordDirty_)
        writeKeywordFile();
    if (decisions_.hasUnsavedChanges()) {
        QString why;
        if (!decisions_.save(today_(), &why)) {
            report(QStringLiteral("The hand marks could not be stored: ") + why);
            ok = false;
        }
    }
    if (ruleFilters_.hasUnsavedChanges()) {
        QString why;
        if (!ruleFilters_.save(today_(), &why))
            report(QStringLiteral("The episodes already marked could not be stored: ") + why);
    }
    if (!dirtyDays_.isEmpty()) {
        const QSet<QString> days = std::exchange(dirtyDays_, {});
        ok = writeOutDataLocked(&days) && ok;
    }
    return ok;
}

void KeywordController::writeKeywordFile()
{
    // Whatever happens, this is the latest the rules can be stored; a failed write is not
    // retried until the next change.
    keywordDirty_ = false;
    if (!KeywordFile::write(keywordFilePath(), seqs_))
        systemLog(QStringLiteral("error writing keyword file"));
}

// ---- the cycle ----------------------------------------------------------------------

bool KeywordController::reloadData(const QString &mode)
{
    return runReloadCycle(mode);
}

bool KeywordController::runReloadCycle(const QString &mode)
{
    DataFolderLock folderLock;
    beginExclusive();
    bool ok = true;
    ui_.run([this] {
        if (views_)
            views_->showSpinner(true);
    });
    if (!all_.empty() && mode != QLatin1String("NoSave"))
        ok = writeOutDataLocked() && ok;
    ok = loadInDataLocked() && ok;
    sortDataLocked();
    loadDecisionsLocked();
    // Each rule's run would store the rule file; storing it once after the last run
    // leaves the same file.
    bool anyRun = false;
    for (size_t i = 0; i < seqs_.size(); ++i)
        anyRun = runRuleLocked(int(i)) || anyRun;
    applyMarksLocked();
    // Edits asked for while the files were read land on the fresh programmes now, so the
    // write-out below sees them.
    drainPending();
    if (anyRun)
        keywordDirty_ = true;
    // Every day is written below.
    dirtyDays_.clear();
    ok = storeLocked() && ok;
    ui_.run([this] {
        if (views_)
            views_->reloadRuleTable();
    });
    ok = writeOutDataLocked() && ok;
    ui_.run([this] {
        if (noc_)
            noc_->nowOn();
    });
    if (table_) {
        table_->setFileList({});
        table_->reloadTable();
        ui_.run([this] { Q_EMIT tableListReplaced(); });
    }
    ui_.run([this] {
        if (views_)
            views_->showSpinner(false);
    });
    endExclusive();
    return ok;
}
