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
    // them with the channel mapping and writes the TGD day files into `folder`. A document
    // that is no guide is removed: it was only kept to be converted.
    void convertToTGD(const QString &folder);
    // Why the documents gave no programmes, one line; empty when they gave some.
    QString why() const { return why_; }
    // The per-day XMLTV files of the same programmes, for the grid generator.
    void exportXML(const QString &folder);

    int programmes() const;
    int dayFiles() const { return dayFiles_; }

private:
    struct Data;
    std::unique_ptr<Data> d_;
    int dayFiles_ = 0;
    QString why_;
};
