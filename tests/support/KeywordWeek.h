#pragma once

#include <QDir>
#include <QFile>
#include <QStringList>

// The fixture week of day files (tests/data/keywords/, 12 to 18 March 2007), shared by the
// keyword tests.
inline const QStringList kWeek
    = { "20070312", "20070313", "20070314", "20070315", "20070316", "20070317", "20070318" };

// Copies the week into `output`; answers success.
inline bool copyKeywordWeek(const QString &output)
{
    QDir().mkpath(output);
    for (const QString &day : kWeek)
        if (!QFile::copy(QStringLiteral(PALLARO_TEST_DATA "/keywords/") + day + ".tgd",
                output + "/" + day + ".tgd"))
            return false;
    return true;
}
