#include "ui/KeywordController.h"

#include "guide/Folding.h"
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
            const QString term = foldCaseAndDiacritics(negative);
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
