#include "ui/KeywordController.h"

#include "base/FolderWalk.h"

#include "base/Paths.h"
#include "base/Settings.h"
#include "base/SystemLog.h"
#include "base/WholeFile.h"
#include "guide/TGDFile.h"
#include "guide/TGDFormat.h"
#include "ui/KeywordFile.h"
#include "ui/KeywordRuleTable.h"
#include "ui/SourceListController.h"
#include "ui/TGDPickerController.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <numeric>

namespace
{

// Case- and diacritic-insensitive form: decomposed, combining marks dropped, case folded.
QString fold(const QString &s)
{
    bool ascii = true;
    for (QChar c : s)
        if (c.unicode() >= 0x80) {
            ascii = false;
            break;
        }
    if (ascii)
        return s.toLower();
    const QString d = s.normalized(QString::NormalizationForm_D);
    QString out;
    out.reserve(d.size());
    for (QChar c : d) {
        const QChar::Category cat = c.category();
        if (cat == QChar::Mark_NonSpacing || cat == QChar::Mark_SpacingCombining
            || cat == QChar::Mark_Enclosing)
            continue;
        out += c;
    }
    return out.toCaseFolded();
}

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
    , today_([] { return QDate::currentDate(); })
{
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
    flushKeywordFile();
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
    setSeqs(KeywordFile::read(keywordFilePath()));
}

KeywordRulePtr KeywordController::createBlankSeq()
{
    auto r = std::make_shared<KeywordRule>();
    r->padStart = Settings::integer(QStringLiteral("keywordPadStart"));
    r->padEnd = Settings::integer(QStringLiteral("keywordPadEnd"));
    return r;
}

void KeywordController::setSeqs(const std::optional<KeywordRules> &seqs)
{
    beginExclusive();
    {
        QMutexLocker lock(&listMutex_);
        if (!seqs || *seqs != seqs_)
            seqs_ = seqs ? *seqs : KeywordRules {};
    }
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
    QMutexLocker lock(&stateMutex_);
    if (busy_ && owner_ == std::this_thread::get_id()) {
        ++depth_;
        return;
    }
    while (busy_)
        idle_.wait(&stateMutex_);
    busy_ = true;
    owner_ = std::this_thread::get_id();
    depth_ = 1;
}

void KeywordController::endExclusive()
{
    for (;;) {
        std::deque<std::function<void()>> ops;
        {
            QMutexLocker lock(&stateMutex_);
            if (depth_ > 1) {
                --depth_;
                return;
            }
            if (pending_.empty()) {
                busy_ = false;
                depth_ = 0;
                owner_ = {};
                idle_.wakeAll();
                return;
            }
            ops.swap(pending_);
        }
        for (auto &op : ops)
            op();
    }
}

void KeywordController::submit(std::function<void()> op)
{
    {
        QMutexLocker lock(&stateMutex_);
        if (busy_ && owner_ != std::this_thread::get_id()) {
            pending_.push_back(std::move(op));
            return;
        }
    }
    beginExclusive();
    op();
    endExclusive();
}

void KeywordController::drainPending()
{
    for (;;) {
        std::deque<std::function<void()>> ops;
        {
            QMutexLocker lock(&stateMutex_);
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
    QMutexLocker lock(&stateMutex_);
    if (busy_ && owner_ == std::this_thread::get_id())
        return;
    while (busy_)
        idle_.wait(&stateMutex_);
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
        if (const TGDEntryPtr target = currentEntry(entry))
            change(*target);
        else
            change(*entry);
    });
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
        if (it != seqs_.end() && updateMatchesLocked(int(it - seqs_.begin()), false))
            scheduleKeywordFile();
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
    submit([this, rules] {
        {
            QMutexLocker lock(&listMutex_);
            seqs_.erase(std::remove_if(seqs_.begin(), seqs_.end(),
                            [&](const KeywordRulePtr &r) {
                                return std::find(rules.begin(), rules.end(), r) != rules.end();
                            }),
                seqs_.end());
        }
        writeKeywordFile();
        redisplayRules();
    });
}

void KeywordController::dropRules(const KeywordRules &copies, int row, const KeywordRules &moved)
{
    submit([this, copies, row, moved] {
        if (auto order = KeywordRuleTable::insertRules(seqs_, copies, row, moved)) {
            QMutexLocker lock(&listMutex_);
            seqs_ = std::move(*order);
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

void KeywordController::scheduleKeywordFile()
{
    keywordDirty_ = true;
    {
        std::lock_guard lock(writerMutex_);
        if (writerStop_)
            return; // the destructor stores it
        writeDue_ = std::chrono::steady_clock::now()
            + std::chrono::milliseconds(keywordFileDelayMs_);
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
        flushKeywordFile();
        lock.lock();
    }
}

void KeywordController::flushKeywordFile()
{
    beginExclusive();
    if (keywordDirty_)
        writeKeywordFile();
    endExclusive();
}

// ---- reading, sorting, writing ----------------------------------------------------

void KeywordController::loadInData()
{
    beginExclusive();
    loadInDataLocked();
    sortDataLocked();
    endExclusive();
}

bool KeywordController::loadInDataLocked()
{
    const QString folder = outputPath();
    const int today = today_().toString(QStringLiteral("yyyyMMdd")).toInt();
    TGDFile reader;
    bool first = true;
    bool ok = true;
    loadedDays_.clear();
    for (const QString &relative : walkSorted(folder)) {
        const QString name = relative.section(QLatin1Char('/'), -1);
        const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
        if (dot < 0 || name.mid(dot + 1) != QLatin1String("tgd"))
            continue;
        const QString day = name.left(dot);
        if (today - tgd::leadingInt(day) > 2)
            continue;
        QFile file(folder + QLatin1Char('/') + relative);
        int count = 0;
        if (QFileInfo(file.fileName()).isFile() && file.open(QIODevice::ReadOnly)) {
            count = reader.loadTGDData(file.readAll(), day, !first);
            first = false;
            loadedDays_.insert(day);
            if (table_) {
                table_->endSearch();
                table_->reloadTable();
            }
        } else {
            systemLog(QStringLiteral("cannot read ") + relative);
            ok = false;
        }
        if (slc_)
            slc_->setCount(count, day);
    }
    // With no day file at all the list is empty, not whatever the table showed last.
    {
        QMutexLocker lock(&listMutex_);
        all_ = reader.getFileData();
    }
    ++generation_;
    folded_.clear();
    return ok;
}

void KeywordController::sortData()
{
    beginExclusive();
    sortDataLocked();
    endExclusive();
}

void KeywordController::sortDataLocked()
{
    struct Key {
        const QString *channel;
        qint64 start; // invalid start sorts first
    };
    std::vector<Key> keys(all_.size());
    for (size_t i = 0; i < all_.size(); ++i)
        keys[i] = { &all_[i]->channel,
            all_[i]->start.isValid() ? all_[i]->start.toMSecsSinceEpoch()
                                     : std::numeric_limits<qint64>::min() };
    std::vector<size_t> order(all_.size());
    std::iota(order.begin(), order.end(), size_t(0));
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        const int c = keys[a].channel->compare(*keys[b].channel);
        if (c != 0)
            return c < 0;
        return keys[a].start < keys[b].start;
    });
    TGDEntryList sorted;
    sorted.reserve(all_.size());
    for (size_t i : order)
        sorted.push_back(all_[i]);
    {
        QMutexLocker lock(&listMutex_);
        all_ = std::move(sorted);
    }
    ++generation_;
    folded_.clear();
}

void KeywordController::writeOutData()
{
    writeOutDataChecked();
}

bool KeywordController::writeOutDataChecked()
{
    beginExclusive();
    const bool ok = writeOutDataLocked();
    // Everything in memory reaches the disk here, the rule file included: the upload and
    // the exit call this.
    if (keywordDirty_)
        writeKeywordFile();
    endExclusive();
    return ok;
}

bool KeywordController::writeOutDataLocked()
{
    if (table_)
        table_->setFileList(all_);
    if (!slc_)
        return true;
    QHash<QString, TGDEntryList> byDay;
    for (const TGDEntryPtr &e : all_)
        byDay[e->fileNameDataIsFrom].push_back(e);
    const QString folder = outputPath();
    bool ok = true;
    for (const GuideDayRowPtr &row : slc_->fileList()) {
        const QVariant date = slc_->value(row, QStringLiteral("date"));
        if (!date.isValid())
            continue;
        const QString day = flipName(date.toString());
        // Only days read by the last load: before the first load, or for a file written
        // since, there is nothing in memory that could replace the file's content.
        if (!loadedDays_.contains(day))
            continue;
        const QString path = folder + QLatin1Char('/') + day + QStringLiteral(".tgd");
        if (!QFileInfo(path).isFile())
            continue;
        if (!writeWholeFile(path, TGDFile::dataToTGD(byDay.value(day)))) {
            systemLog(QStringLiteral("error writing ") + path);
            ok = false;
        }
    }
    return ok;
}

// ---- matching -----------------------------------------------------------------------

const KeywordController::Folded &KeywordController::folded(size_t i)
{
    if (folded_.size() != all_.size())
        folded_.assign(all_.size(), Folded {});
    Folded &f = folded_[i];
    const TGDEntry &e = *all_[i];
    // Shared string data: an edited field no longer points at the folded copy's source.
    if (f.srcTitle != e.title.constData() || f.srcSubAndCat != e.subAndCat.constData()
        || f.srcRawStart != e.rawStart.constData() || f.srcChannel != e.channel.constData()) {
        f.title = fold(e.title);
        f.subAndCat = fold(e.subAndCat);
        f.rawStart = fold(e.rawStart);
        f.channel = fold(e.channel);
        f.srcTitle = e.title.constData();
        f.srcSubAndCat = e.subAndCat.constData();
        f.srcRawStart = e.rawStart.constData();
        f.srcChannel = e.channel.constData();
    }
    return f;
}

void KeywordController::updateMatches(int index)
{
    submit([this, index] {
        if (updateMatchesLocked(index, false))
            scheduleKeywordFile();
    });
}

bool KeywordController::updateMatchesLocked(int index, bool inCycle)
{
    if (index < 0 || size_t(index) >= seqs_.size())
        return false;
    const KeywordRulePtr rule = seqs_[size_t(index)];
    if (rule->keywords.isEmpty())
        return false;
    if (all_.empty()) {
        loadInDataLocked();
        sortDataLocked();
    }

    auto fourFields = [this](size_t i, const QString &term) {
        if (term.isEmpty())
            return false; // a term that folds to nothing is found nowhere
        const Folded &f = folded(i);
        return f.title.contains(term) || f.subAndCat.contains(term) || f.rawStart.contains(term)
            || f.channel.contains(term);
    };

    std::vector<size_t> result;
    bool narrowed = false;
    for (const QString &keyword : rule->keywords) {
        if (keyword.isEmpty())
            continue;
        std::function<bool(size_t)> keep;
        if (rule->exact) {
            keep = [&](size_t i) { return all_[i]->title == keyword; };
        } else if (keyword.size() > 1 && keyword.startsWith(QLatin1Char('<'))) {
            const QString bound = keyword.mid(1);
            keep = [this, bound](size_t i) {
                const QString &t = all_[i]->startTime;
                return !t.isEmpty() && t.compare(bound) <= 0;
            };
        } else if (keyword.size() > 1 && keyword.startsWith(QLatin1Char('>'))) {
            const QString bound = keyword.mid(1);
            keep = [this, bound](size_t i) {
                const QString &t = all_[i]->startTime;
                return !t.isEmpty() && t.compare(bound) >= 0;
            };
        } else {
            const QString term = fold(keyword);
            keep = [&fourFields, term](size_t i) { return fourFields(i, term); };
        }
        std::vector<size_t> next;
        if (!narrowed) {
            for (size_t i = 0; i < all_.size(); ++i)
                if (keep(i))
                    next.push_back(i);
        } else {
            for (size_t i : result)
                if (keep(i))
                    next.push_back(i);
        }
        result = std::move(next);
        narrowed = true;
    }

    for (const QString &negative : rule->negatives) {
        if (negative.isEmpty())
            continue;
        std::function<bool(size_t)> drop;
        if (negative.size() > 1 && negative.startsWith(QLatin1Char('<'))) {
            const QString bound = negative.mid(1);
            drop = [this, bound](size_t i) {
                const QString &t = all_[i]->startTime;
                return !t.isEmpty() && t.compare(bound) < 0;
            };
        } else if (negative.size() > 1 && negative.startsWith(QLatin1Char('>'))) {
            const QString bound = negative.mid(1);
            drop = [this, bound](size_t i) {
                const QString &t = all_[i]->startTime;
                return !t.isEmpty() && t.compare(bound) > 0;
            };
        } else {
            const QString term = fold(negative);
            drop = [&fourFields, term](size_t i) { return fourFields(i, term); };
        }
        result.erase(std::remove_if(result.begin(), result.end(), drop), result.end());
    }

    TGDEntryList matches;
    matches.reserve(result.size());
    for (size_t i : result) {
        // The plain name: the colour is the only difference from the styled one.
        all_[i]->dispChannelColour = TGDEntry::Colour::Plain;
        matches.push_back(all_[i]);
    }
    {
        QMutexLocker lock(&listMutex_);
        rule->numberMatches = int(matches.size());
        rule->matches = matches;
    }
    if (rule->autoRecord.value_or(false))
        setRecord(true, matches, rule->padStart, rule->padEnd);
    if (table_) {
        table_->setFileList(std::move(matches));
        table_->reloadTable();
    }
    (void)inCycle;
    return true;
}

void KeywordController::setRecord(bool record, const TGDEntryList &matches,
    std::optional<int> padStart, std::optional<int> padEnd)
{
    for (const TGDEntryPtr &e : matches) {
        e->record = record;
        e->extStart = padStart.value_or(0);
        e->extStop = padEnd.value_or(0);
    }
}

void KeywordController::writeKeywordFile()
{
    // Whatever happens, this is the latest the rules can be stored; a failed write is not
    // retried until the next change.
    keywordDirty_ = false;
    if (!KeywordFile::write(keywordFilePath(), seqs_))
        systemLog(QStringLiteral("error writing keyword file"));
}

QString KeywordController::flipName(const QString &date)
{
    return SourceListController::flipName(date);
}

// ---- the cycle ----------------------------------------------------------------------

void KeywordController::reloadData(const QString &mode)
{
    runReloadCycle(mode);
}

bool KeywordController::runReloadCycle(const QString &mode)
{
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
    // Edits asked for while the files were read land on the fresh programmes now, so the
    // rules and the write-out below see them.
    drainPending();
    // Each rule's run would store the rule file; storing it once after the last run
    // leaves the same file.
    bool anyRun = false;
    for (size_t i = 0; i < seqs_.size(); ++i)
        anyRun = updateMatchesLocked(int(i), true) || anyRun;
    if (anyRun || keywordDirty_)
        writeKeywordFile();
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
    }
    ui_.run([this] {
        if (views_)
            views_->showSpinner(false);
    });
    endExclusive();
    return ok;
}
