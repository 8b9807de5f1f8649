#pragma once

#include <QDate>
#include <QHash>
#include <QString>
#include <optional>

// What the user decided for one programme by hand: record it (with these extensions), or
// not. It wins over the rules.
struct HandDecision {
    bool record = false;
    int extStart = 0; // minutes; positive starts the recording earlier
    int extStop = 0; // minutes; positive ends it later
    QString title; // for a person reading the file; not part of the decision

    bool sameAs(const HandDecision &o) const
    {
        return record == o.record && (!record || (extStart == o.extStart && extStop == o.extStop));
    }
};

// The hand decisions, kept in a small file of their own in the ApplicationSupportFolder,
// keyed by channel key and start text so that a fresh fetch of the same programme (even
// with a corrected title) finds its decision again.
//
// Changes are kept apart from what was read until they are saved: a save reads the file
// again and puts only this program's changes on it, so two programs deciding at once do
// not undo each other. Not thread-safe: one owner (the keyword controller's exclusive
// section).
class HandDecisions
{
public:
    explicit HandDecisions(QString path);
    // "HandDecisions.json" in the ApplicationSupportFolder.
    static QString defaultPath();
    QString path() const { return path_; }

    enum class Read { Missing, Read, SetAside };
    // Reads the file; unsaved changes stay on top. A file that cannot be understood is
    // renamed aside (its name and why in `problem`) and counts as missing.
    Read load(QString *problem = nullptr);
    bool exists() const;

    std::optional<HandDecision> find(const QString &channel, const QString &rawStart) const;
    // A decision, or none to let the rules decide again.
    void set(const QString &channel, const QString &rawStart, std::optional<HandDecision> decision);
    bool hasUnsavedChanges() const { return touched_ || !changes_.isEmpty(); }
    // The next save writes the file even without a change (so that it exists).
    void touch() { touched_ = true; }
    int size() const { return int(current_.size()); }

    // Drops decisions for programmes that started before `today` minus two days (the
    // oldest day the reload still reads), then writes the file whole: the file as it now
    // stands on disk with this program's changes on it. Answers success, or why not.
    bool save(const QDate &today, QString *error = nullptr);

private:
    using Map = QHash<QString, HandDecision>;
    static QString key(const QString &channel, const QString &rawStart);
    std::optional<Map> readFile(QString *problem) const;
    void rebuild();

    QString path_;
    Map stored_; // as last read or written
    QHash<QString, std::optional<HandDecision>> changes_; // not yet saved
    Map current_; // stored_ with changes_ on it
    bool touched_ = false;
};
