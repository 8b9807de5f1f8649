#pragma once

#include <QByteArray>
#include <QtGlobal>
#include <ctime>

// Local time is `zone` while alive (Sydney's unless told: the fixture starts are read in
// it), then whatever it was before.
class LocalZone
{
public:
    explicit LocalZone(const char *zone = "Australia/Sydney")
        : old_(qgetenv("TZ"))
    {
        set(zone);
    }
    ~LocalZone()
    {
        if (old_.isNull())
            qunsetenv("TZ");
        else
            qputenv("TZ", old_);
        tzset();
    }
    static void set(const char *zone)
    {
        qputenv("TZ", zone);
        tzset();
    }

private:
    QByteArray old_;
};
// The name the keyword and programme-table fixtures know it by.
using SydneyTime = LocalZone;
