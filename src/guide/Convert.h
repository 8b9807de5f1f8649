#pragma once

#include <QString>

class QTextStream;

// `pallaro --convert`: imports an XMLTV file, normalises it with the current "location" and
// "useOldStyleNames", and writes TGD day files (and day XMLTV files when `xml` is set)
// into `outputFolder`. Prints the counts to `out`, or one line with the reason to `err`.
// Answers the exit status.
int runConvert(const QString &xmltvFile, const QString &outputFolder, bool xml, QTextStream &out,
    QTextStream &err);
