#pragma once

#include "guide/TGDEntry.h"
#include "ui/KeywordRule.h"

#include <QDate>
#include <QDateTime>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <unordered_set>
#include <vector>

// A rule's narrowing keys as the match run uses them. A value that cannot be used is
// ignored, as if the key were absent, with one line in `problems` saying so.
struct RuleFilters {
    QStringList channels; // "Channels": non-empty names or keys; none: any channel
    unsigned days = 0; // "Days": bit (weekday - 1), Monday = 1; 0: any day
    std::optional<int> startAfter; // "StartAfter": minutes after midnight
    std::optional<int> startBefore; // "StartBefore": minutes after midnight
    std::optional<int> minDuration; // "MinDuration": minutes
    std::optional<int> maxDuration; // "MaxDuration": minutes
    bool skipRepeats = false; // "SkipRepeats"
    QStringList problems;

    static RuleFilters of(const KeywordRule &rule);
    // Whether anything but skipRepeats narrows.
    bool narrows() const;
    bool passes(const TGDEntry &e) const;
    // "channels=ABC,Nine days=6,7 start=22:00-01:00 minutes=55-90 skip-repeats", or empty.
    QString describe() const;

    // "HH:MM" (or "H:MM") as minutes after midnight.
    static std::optional<int> minutesOf(const QString &text);
    static QString clockText(int minutes);
};

// What makes two showings the same episode: the folded title and sub-title (the
// description when there is no sub-title). Empty when there is neither: never a repeat.
QString episodeOf(const TGDEntry &e);

// The episodes rules that skip repeats have marked, by the day file of the showing, kept
// in the ApplicationSupportFolder so that a repeat is known after the first showing's day
// has left the guide. Entries go 90 days after their day.
class ShownEpisodes
{
public:
    explicit ShownEpisodes(QString path);
    // "ShownEpisodes.json" in the ApplicationSupportFolder.
    static QString defaultPath();
    QString path() const { return path_; }

    // Rereads the file when another program has written it since.
    void refresh();
    // The day (YYYYMMDD) of the episode's remembered showing, if any.
    std::optional<QString> day(const QString &episode) const;
    // The episode was marked on this day; an earlier remembered day stays.
    void remember(const QString &episode, const QString &day, const QString &firstDayRead);
    bool hasUnsavedChanges() const { return !changes_.isEmpty(); }
    // Writes the file whole, as it now stands on disk with this program's changes on it,
    // less what is older than 90 days before `today`. The caller holds the data-folder lock.
    bool save(const QDate &today, QString *error = nullptr);

private:
    using Map = QHash<QString, QString>; // episode -> YYYYMMDD
    std::optional<Map> readFile(QString *problem) const;

    QString path_;
    Map stored_;
    Map changes_;
    QDateTime stamp_; // the file's time when last read
    qint64 size_ = -1;
};

// The filters' part of the match runs of one rule list: narrowing each rule's matches,
// telling repeats from first showings, and saying once which values it ignores.
// Owned by the keyword controller's exclusive section.
class RuleFilterRun
{
public:
    explicit RuleFilterRun(QString memoryPath = ShownEpisodes::defaultPath());

    // Drops from `result` (indexes into `all`, the full list in its order) the programmes
    // the rule's filters keep out, and notes which of the rest are repeats. Lines about
    // ignored values go to `report`, each once.
    void narrow(const KeywordRulePtr &rule, const TGDEntryList &all, std::vector<size_t> &result,
        const std::function<void(const QString &)> &report);
    // The rule's matches less its repeats: what it marks. Remembers the episodes so marked.
    TGDEntryList toMark(const KeywordRulePtr &rule);
    bool isRepeat(const KeywordRulePtr &rule, const TGDEntry *e) const;

    bool hasUnsavedChanges() const { return shown_.hasUnsavedChanges(); }
    bool save(const QDate &today, QString *error = nullptr) { return shown_.save(today, error); }

private:
    struct Repeats {
        std::weak_ptr<KeywordRule> rule;
        bool skip = false;
        std::unordered_set<const TGDEntry *> entries;
        QString firstDayRead; // YYYYMMDD
    };
    Repeats *repeatsOf(const KeywordRulePtr &rule);

    ShownEpisodes shown_;
    std::vector<Repeats> repeats_;
    QSet<QString> said_;
};
