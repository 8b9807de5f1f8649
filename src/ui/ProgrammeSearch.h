#pragma once

#include "guide/TGDEntry.h"

#include <QString>
#include <vector>

// A working list of the programme table prepared for searching and sorting: what both
// need of every programme is gathered once, when the list is set, so that neither a
// keystroke nor a header click has to visit some 90,000 records (a week of a large
// region) scattered over memory. Built from the records as they are then; a list of
// re-read records gets a new index. Any thread; const use is safe to share.
class ProgrammeIndex
{
public:
    // Programmes of the indexed list, in some order, with their places in the index.
    struct Rows {
        TGDEntryList list;
        std::vector<quint32> at;
    };

    ProgrammeIndex() = default;
    explicit ProgrammeIndex(const TGDEntryList &list);

    // The indexed list itself, in its order.
    static Rows allOf(TGDEntryList list);

    // The programmes of `within` that hold every word of `text` (split at single spaces,
    // empty parts skipped), each word in one of "title", "subAndCat", "description",
    // "rating" or "dispChannelString", case- and diacritic-insensitively; in the order of
    // `within`. Text of spaces only finds nothing.
    Rows search(const Rows &within, const QString &text) const;

    // Sorts `rows` by the column's sort key: "title", "sub", "cat", "rating" and
    // "dispChannel" (by "dispChannelString") case-insensitively, "start", "stop", "duration"
    // and "record" by
    // value (an absent date first, false before true). Stable both ways: equal keys keep
    // their order. Answers false, leaving the rows as they are, for a column without one.
    bool sort(Rows &rows, const QString &column, bool ascending) const;

private:
    // The folded search texts end to end, each closed by a NUL that no word holds.
    QByteArray text_;
    std::vector<quint32> ends_;
    // Per indexed programme, its place in each column's order (equal keys, equal rank).
    struct Ranks {
        std::vector<quint32> of;
        quint32 count = 0;
    };
    Ranks title_, channel_, start_, stop_, duration_, sub_, cat_, rating_;
};

// The same search over a plain list, for the command line: in list order.
TGDEntryList searchProgrammes(const TGDEntryList &list, const QString &text);
