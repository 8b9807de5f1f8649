#include "guide/TGDFile.h"
#include "support/SydneyTime.h"
#include "support/TempHome.h"
#include "ui/NowOnController.h"

#include <gtest/gtest.h>

namespace
{

QByteArray line(const char *channel, const char *start, int minutes, const char *title)
{
    return QStringList { channel, start, QString::number(minutes), title, "[News]", "", "PG", "N" }
               .join('\t')
               .toLatin1()
        + "\r\n";
}

QDateTime at(const char *text)
{
    return QDateTime::fromString(text, "yyyy-MM-dd HH:mm");
}

// Channel "9" before "2", as a list that was not sorted by time: the order is kept.
TEST(NowOn, OnAirAtAnInstantWithBothBoundsInclusive)
{
    LocalZone zone;
    TGDFile reader;
    reader.loadTGDData(line("9", "2007-03-12 19:00", 120, "Film")
            + line("2", "2007-03-12 19:30", 30, "News") + line("2", "2007-03-12 20:00", 30, "Quiz")
            + line("2", "not a time", 30, "Broken"),
        "20070312", false);
    const TGDEntryList all = reader.getFileData();
    const struct {
        const char *at;
        QStringList on;
    } cases[] = {
        { "2007-03-12 20:00", { "Film", "News", "Quiz" } }, // News ends as Quiz starts
        { "2007-03-12 19:59", { "Film", "News" } },
        { "2007-03-12 20:30", { "Film", "Quiz" } },
        { "2007-03-12 18:59", {} },
        { "2007-03-12 21:01", {} },
    };
    for (const auto &c : cases)
        EXPECT_EQ(titles(NowOnController::onAir(all, at(c.at))), c.on) << c.at;
}

} // namespace
