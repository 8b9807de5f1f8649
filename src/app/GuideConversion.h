#pragma once

#include <QString>
#include <memory>

// The in-process part of a web-provider fetch: one per fetch, used by its worker only.
// Holds the normalised programmes between the day files and the grid previews.
class GuideConversion {
public:
    GuideConversion();
    ~GuideConversion();
    GuideConversion(const GuideConversion &) = delete;
    GuideConversion &operator=(const GuideConversion &) = delete;

    // Imports `folder`/xmltv.xml, or `folder`/- when that yields no programmes; normalises
    // them with the channel mapping and writes the TGD day files into `folder`: all of
    // them, or none when one could not be written (writeError() then says why). A document
    // that is no guide is removed: it was only kept to be converted.
    void convertToTGD(const QString &folder);
    // Why the documents gave no programmes, one line; empty when they gave some.
    QString why() const { return why_; }
    // The day file that could not be written, and why; empty when all were.
    QString writeError() const { return writeError_; }
    // The per-day XMLTV files of the same programmes, for the grid generator. Answers the
    // file that could not be written, and why; empty when all were.
    QString exportXML(const QString &folder);

    int programmes() const;
    int dayFiles() const { return dayFiles_; }

private:
    struct Data;
    std::unique_ptr<Data> d_;
    int dayFiles_ = 0;
    QString why_;
    QString writeError_;
};
