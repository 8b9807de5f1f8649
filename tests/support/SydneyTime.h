#pragma once

#include <QtGlobal>
#include <ctime>

// Local time is Sydney's while alive: the fixture starts are read in it.
struct SydneyTime {
    SydneyTime()
    {
        qputenv("TZ", "Australia/Sydney");
        tzset();
    }
    ~SydneyTime()
    {
        qunsetenv("TZ");
        tzset();
    }
};
