#pragma once

#include "ui/GridPages.h"
#include "ui/KeywordStore.h"

#include <QString>

// The application controller talks to the other controllers through these seams, so that
// it can run headless and be tested with recording doubles.

// The per-user scheduled daily run.
class AutoRunScheduler {
public:
    virtual ~AutoRunScheduler() = default;
    // Installs the scheduled run when on is true, removes it otherwise.
    virtual void setAutoRun(bool on) = 0;
};

// The Fetch and Upload buttons of the window. Called on the UI thread only, in the order
// the fetch or the upload asked for the changes.
class FetchButtons {
public:
    virtual ~FetchButtons() = default;
    virtual void setFetchButton(bool enabled, const QString &title) = 0;
    // "Upload", or "Stop" while an upload runs.
    virtual void setUploadButton(bool enabled, const QString &title) = 0;
};
