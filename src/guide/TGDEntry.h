#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <memory>
#include <optional>
#include <vector>

// One programme as held after reading a TGD day file. The same record is shared by the
// full programme list, the programme table, the keyword matches and the "Now on" list,
// so a change through any of them is a change of the one record.
struct TGDEntry {
    enum class Colour { Plain, Green, Red };

    // The eight fields of a TGD line, and the day file it came from.
    QString channel;     // "channel": channel key, e.g. "1,10"
    QString rawStart;    // "rawStart": "%Y-%m-%d %H:%M" text as read
    int duration = 0;    // "duration": minutes
    QString title;       // "title"
    QString subAndCat;   // "subAndCat": sub-title, space, "[category]"
    QString description; // "description"
    QString rating;      // "rating"
    QString recordStatus;       // "recordStatus": "N", "Y" or "-05 +10"
    QString fileNameDataIsFrom; // "fileNameDataIsFrom": YYYYMMDD

    // Derived for display, sorting, searching and recording.
    QString dispChannel;                   // "dispChannel": display name, drawn in dispChannelColour
    Colour dispChannelColour = Colour::Plain;
    QString dispChannelString;             // "dispChannelString": the same name as plain text
    QDateTime start;                       // "start": local time; invalid when rawStart does not parse
    QString startTime;                     // "startTime": "%H:%M"
    QDateTime stop;                        // "stop"
    QString sub;                           // "sub"
    QString cat;                           // "cat"
    bool record = false;                   // "record"
    std::optional<int> extStart;           // "extStart": minutes; positive starts earlier
    std::optional<int> extStop;            // "extStop": minutes; positive ends later

    // Where "record" comes from (memory only): the user's own decision wins over the rules.
    enum class MarkSource { None, Rule, Hand };
    MarkSource markSource = MarkSource::None;
    QString markRule; // the auto-record rule that marks it, or would but for a hand decision

    // "channelImage": the channel picture the "Now on" list attaches (memory only).
    QVariant channelImage;

    // What the search looks in: "title", "subAndCat", "description", "rating" and
    // "dispChannelString" joined by line feeds, which no field of a day-file line holds,
    // folded (foldCaseAndDiacritics), as UTF-8. Kept by the derivation and by setValue, so
    // that no keystroke pays for folding; refreshSearchText after changing one of the five
    // directly.
    QByteArray searchText;
    void refreshSearchText() { searchText = foldedSearchText(); }
    QByteArray foldedSearchText() const;

    // Every quoted key above, for table columns, the rule file and matching.
    static const QStringList &keys();
    // The value under a quoted key; invalid for an absent optional or an unknown key.
    QVariant value(const QString &key) const;
    // Sets the value under a quoted key; answers false for an unknown key.
    // `refreshSearch` false leaves searchText to one refreshSearchText after many keys.
    bool setValue(const QString &key, const QVariant &value, bool refreshSearch = true);
};

using TGDEntryPtr = std::shared_ptr<TGDEntry>;
using TGDEntryList = std::vector<TGDEntryPtr>;
