#pragma once

// The grid preview browser as the application controller sees it: rebuild the page list
// at start-up and after a fetch made new pages. UI thread.
class GridPages
{
public:
    virtual ~GridPages() = default;
    virtual void loadPages() = 0;
};
