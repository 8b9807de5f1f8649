#include "ui/KeywordController.h"

#include "guide/Folding.h"
#include "guide/TGDFormat.h"
#include "ui/TGDPickerController.h"

#include <algorithm>

// Matching a rule against the full list, in the exclusive section.

const KeywordController::Folded &KeywordController::folded(size_t i)
{
    if (folded_.size() != all_.size())
        folded_.assign(all_.size(), Folded {});
    Folded &f = folded_[i];
    const TGDEntry &e = *all_[i];
    // Shared string data: an edited field no longer points at the folded copy's source.
    if (f.srcTitle != e.title.constData() || f.srcSubAndCat != e.subAndCat.constData()
        || f.srcRawStart != e.rawStart.constData() || f.srcChannel != e.channel.constData()) {
        f.title = foldCaseAndDiacritics(e.title);
        f.subAndCat = foldCaseAndDiacritics(e.subAndCat);
        f.rawStart = foldCaseAndDiacritics(e.rawStart);
        f.channel = foldCaseAndDiacritics(e.channel);
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
        if (updateMatchesLocked(index))
            scheduleKeywordFile();
    });
}

bool KeywordController::updateMatchesLocked(int index)
{
    if (index < 0 || size_t(index) >= seqs_.size() || seqs_[size_t(index)]->keywords.isEmpty())
        return false;
    if (all_.empty()) {
        loadInDataLocked();
        sortDataLocked();
        loadDecisionsLocked();
        // The other rules' marks are on these programmes too.
        for (size_t i = 0; i < seqs_.size(); ++i)
            if (int(i) != index)
                runRuleLocked(int(i));
    }
    runRuleLocked(index);
    applyMarksLocked();
    if (table_) {
        table_->setFileList(*seqs_[size_t(index)]->matches);
        table_->reloadTable();
    }
    return true;
}

bool KeywordController::runRuleLocked(int index)
{
    if (index < 0 || size_t(index) >= seqs_.size())
        return false;
    const KeywordRulePtr ruleRecord = seqs_[size_t(index)];
    // Read-only: a non-const QStringList access detaches it, a write that races the copy
    // the rule table takes on the UI thread.
    const KeywordRule &rule = *ruleRecord;
    if (rule.keywords.isEmpty())
        return false;

    auto fourFields = [this](size_t i, const QString &term) {
        if (term.isEmpty())
            return false; // a term that folds to nothing is found nowhere
        const Folded &f = folded(i);
        return f.title.contains(term) || f.subAndCat.contains(term) || f.rawStart.contains(term)
            || f.channel.contains(term);
    };

    std::vector<size_t> result;
    bool narrowed = false;
    for (const QString &keyword : rule.keywords) {
        if (keyword.isEmpty())
            continue;
        std::function<bool(size_t)> keep;
        if (rule.exact) {
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
            const QString term = foldCaseAndDiacritics(keyword);
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

    for (const QString &negative : rule.negatives) {
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
            const QString term = foldCaseAndDiacritics(negative);
            drop = [&fourFields, term](size_t i) { return fourFields(i, term); };
        }
        result.erase(std::remove_if(result.begin(), result.end(), drop), result.end());
    }
    ruleFilters_.narrow(ruleRecord, all_, result, [this](const QString &line) { report(line); });

    TGDEntryList matches;
    matches.reserve(result.size());
    for (size_t i : result) {
        // The plain name: the colour is the only difference from the styled one.
        all_[i]->dispChannelColour = TGDEntry::Colour::Plain;
        matches.push_back(all_[i]);
    }
    {
        QMutexLocker lock(&listMutex_);
        ruleRecord->numberMatches = int(matches.size());
        ruleRecord->matches = std::move(matches);
    }
    return true;
}

namespace
{
QString recordField(const TGDEntry &e)
{
    return e.record ? tgd::formatRecordStringForListing(e.extStart, e.extStop)
                    : QStringLiteral("N");
}
} // namespace

void KeywordController::rerunRulesLocked()
{
    // Rules that come from elsewhere (the file, a drag) hold copies of programmes, which
    // no mark reaches.
    for (size_t i = 0; i < seqs_.size(); ++i)
        runRuleLocked(int(i));
    applyMarksLocked();
}

void KeywordController::applyMarksLocked()
{
    std::vector<QString> before;
    before.reserve(all_.size());
    for (const TGDEntryPtr &e : all_) {
        before.push_back(recordField(*e));
        e->record = false;
        e->markSource = TGDEntry::MarkSource::None;
        e->markRule.clear();
    }
    ruleMarks_.clear();
    for (const KeywordRulePtr &rule : seqs_) {
        if (!rule->autoRecord.value_or(false) || !rule->matches)
            continue;
        // Later rules in table order win, as their extensions overwrite.
        const TGDEntryList marked = ruleFilters_.toMark(rule);
        setRecord(true, marked, rule->padStart, rule->padEnd);
        const QString name = rule->keywords.join(QLatin1Char(' ')).trimmed();
        for (const TGDEntryPtr &e : marked) {
            ruleMarks_[e.get()]
                = HandDecision { true, rule->padStart.value_or(0), rule->padEnd.value_or(0), {} };
            e->markSource = TGDEntry::MarkSource::Rule;
            e->markRule = name;
        }
        // Named on its repeats too, so the programme table can say why they are not marked.
        for (const TGDEntryPtr &e : *rule->matches)
            if (e->markSource == TGDEntry::MarkSource::None && ruleFilters_.isRepeat(rule, e.get()))
                e->markRule = name;
    }
    for (size_t i = 0; i < all_.size(); ++i) {
        TGDEntry &e = *all_[i];
        if (const std::optional<HandDecision> d = decisions_.find(e.channel, e.rawStart)) {
            e.markSource = TGDEntry::MarkSource::Hand;
            e.record = d->record;
            if (d->record) {
                e.extStart = d->extStart;
                e.extStop = d->extStop;
            }
        }
        if (recordField(e) != before[i])
            dirtyDays_.insert(e.fileNameDataIsFrom);
    }
    if (!dirtyDays_.isEmpty())
        scheduleStore(editStoreDelayMs_);
}

void KeywordController::loadDecisionsLocked()
{
    QString problem;
    const HandDecisions::Read read = decisions_.load(&problem);
    if (!problem.isEmpty())
        report(problem);
    // A damaged file set aside loses nothing either: the day files still hold its marks.
    const bool adopt = read == HandDecisions::Read::SetAside
        || (!decisionsLoaded_ && read == HandDecisions::Read::Missing);
    decisionsLoaded_ = true;
    if (!adopt)
        return;
    // No decisions yet (the first start that keeps them, or a file set aside): every mark
    // the day files hold that the current rules do not explain was made by hand.
    if (all_.empty()) {
        loadInDataLocked();
        sortDataLocked();
    }
    std::vector<HandDecision> onFile;
    onFile.reserve(all_.size());
    for (const TGDEntryPtr &e : all_)
        onFile.push_back({ e->record, e->extStart.value_or(0), e->extStop.value_or(0), e->title });
    rerunRulesLocked();
    for (size_t i = 0; i < all_.size(); ++i) {
        TGDEntry &e = *all_[i];
        const auto rule = ruleMarks_.find(&e);
        if (onFile[i].record && (rule == ruleMarks_.end() || !rule->second.sameAs(onFile[i]))) {
            decisions_.set(e.channel, e.rawStart, onFile[i]);
            e.record = true;
            e.extStart = onFile[i].extStart;
            e.extStop = onFile[i].extStop;
        }
    }
    // Written even when empty, so that this happens once.
    decisions_.touch();
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

void KeywordController::previewMatches()
{
    beginExclusive();
    for (size_t i = 0; i < seqs_.size(); ++i)
        runRuleLocked(int(i));
    endExclusive();
}
