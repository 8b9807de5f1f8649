#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

class XMLTree;
struct _xmlNode;

// One programme as imported from XMLTV and normalised. Import fills the first ten keys,
// fixData the last five. An absent optional is an absent key.
struct XMLTVProgramme {
    QString title; // "title"
    QString rating; // "rating"
    QString category; // "category"
    QString subtitle; // "subtitle": sub-title, " [", category, "]"
    QString subTitle; // "sub-title"
    QString description; // "description"
    QString record = QStringLiteral("N"); // "record"
    std::optional<QString> rawChannel; // "rawChannel"
    std::optional<QString> rawStart; // "rawStart"
    std::optional<QString> rawStop; // "rawStop"

    std::optional<QDateTime> startDate; // "startDate": wall-clock fields as broadcast
    std::optional<QDateTime> stopDate; // "stopDate"
    int duration = 0; // "duration": minutes; 0 without both times
    QString chanName; // "chanName": channel key written to the TGD file
    QString displayChan; // "displayChan"

    static const QStringList &keys();
    // The value under a quoted key; invalid for an absent key or an unknown name.
    QVariant value(const QString &key) const;
};

using XMLTVProgrammeList = std::vector<XMLTVProgramme>;

// What a writer produced.
struct ExportResult {
    int programmes = 0; // programmes written
    int files = 0; // day files written
    int skipped = 0; // programmes left out for want of a start time
    QString error; // empty on success; the first file that could not be written
    bool noFolder = false; // the folder itself could not be made (it is `error` then)
};

// XMLTV import, normalisation, channel mapping and the day-file writers. Holds no state:
// a fetch makes one per run, and it is used by one thread.
class XMLToEPG
{
public:
    // Reads the XMLTV document at a local path or file:// URL into programmes in document
    // order. A malformed or unreadable document gives the empty list, "tree is null" in
    // the system log and the reason in `error`. `foundGuide` tells whether a "tv" node
    // was there. The document is read as a stream, one programme subtree at a time.
    XMLTVProgrammeList importXML(
        const QString &url, QString *error = nullptr, bool *foundGuide = nullptr) const;
    // Whether the document at a local path begins as a guide: its root element is "tv".
    // Reads no further than that element's start.
    static bool rootIsGuide(const QString &path);
    // The same from a document already parsed into a tree.
    XMLTVProgrammeList importTree(const XMLTree &document, bool *foundGuide = nullptr) const;
    // One programme read from its node, by the descendant search.
    static XMLTVProgramme readProgramme(const XMLTree &node);

    // Parses "YYYYMMDDhhmmss +zzzz" or "YYYYMMDDhhmm +zzzz". A time in UTC (or without an
    // offset, which XMLTV defines as UTC) is given the local wall-clock time of its own
    // instant. Nothing for an absent, short or unparsable string.
    static std::optional<QDateTime> stringToDate(const std::optional<QString> &dateString);

    // Dates, durations, channel keys; drops the other half of a split region; sorts by
    // start (stable; programmes without a start go last).
    void fixData(XMLTVProgrammeList &programmes) const;

    // (display name, channel key) for a provider's channel identifier.
    static std::pair<QString, QString> fixChannel(const QString &identifier);
    // Whether the region leaves out programmes of this identifier.
    static bool excludedForLocation(const QString &rawChannel, const QString &location);

    // One TGD file per day (YYYYMMDD.tgd, LF line ends). Programmes without a start are
    // not written (one system-log line each).
    ExportResult exportTGD(const XMLTVProgrammeList &programmes, const QString &folder) const;
    // One XMLTV file per day (YYYYMMDD.xml) for the grid generator, 7-bit ASCII.
    ExportResult exportXML(const XMLTVProgrammeList &programmes, const QString &folder) const;

    // The TGD day files of an XMLTV document, byte for byte what importXML, fixData and
    // exportTGD write, without holding the programmes: each is read, normalised and
    // encoded as its day-file line while the document streams by. `error` and
    // `foundGuide` as for importXML; nothing is written when the document fails.
    ExportResult convertToTGD(const QString &url, const QString &folder, QString *error = nullptr,
        bool *foundGuide = nullptr) const;

private:
    // Hands every programme node of the document to `visit`, in document order. Answers
    // whether the visited nodes stand: false when the document failed ("tree is null" in
    // the system log, the reason in `error`) or its guide element holds none of them.
    static bool importEach(const QString &url, QString *error, bool *foundGuide,
        const std::function<void(_xmlNode *)> &visit);
};
