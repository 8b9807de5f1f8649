#pragma once

#include <QString>
#include <functional>

// One writer at a time in the ApplicationSupportFolder, across every Pallaro program (the
// window, headless runs, the daily run, --convert into the output folder): held for the
// length of one write (a fetch's conversion, a reload cycle, a write-out), not for a
// program's life. Within a process it is re-entrant for the thread that holds it and
// serialises the others. Whoever waits for it waits as long as it takes: a writer that
// died leaves a lock that the next one takes over.
//
// Order: take it before the keyword controller's exclusive section, never inside it.
class DataFolderLock
{
public:
    DataFolderLock();
    ~DataFolderLock();
    DataFolderLock(const DataFolderLock &) = delete;
    DataFolderLock &operator=(const DataFolderLock &) = delete;

    // Whether the calling thread holds it.
    static bool heldByThisThread();
    // Where the line about a long wait goes (an empty function: the system log).
    static void setReporter(std::function<void(const QString &)> reporter);
    // A wait longer than this is said (tests shorten it).
    static void setPatience(int ms);
    // The lock file's path.
    static QString path();
};
