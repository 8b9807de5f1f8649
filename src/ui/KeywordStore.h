#pragma once

#include <QString>

// What the application controller needs of the keyword controller, so that it can run
// headless and be tested with a recording double.

// The keyword controller: owner of the loaded programmes and their record marks.
class KeywordStore {
public:
    virtual ~KeywordStore() = default;
    // Writes every loaded day back to its TGD file.
    virtual void writeOutData() = 0;
    // Reloads the programmes from the day files; mode "NoSave" skips writing back first.
    // Answers false when a day file could not be read or its marks written.
    virtual bool reloadData(const QString &mode) = 0;
};
