#include "base/Settings.h"
#include "guide/TGDFile.h"
#include "support/SydneyTime.h"
#include "support/TempHome.h"
#include "ui/TGDPickerController.h"

#include <gtest/gtest.h>

namespace
{

class RecordingView : public ProgrammeListView
{
public:
    void showProgrammes(const TGDEntryList &list) override { shown = list; }
    void showSortIndicator(const QString &column, bool ascending) override
    {
        indicator = column + (ascending ? " asc" : " desc");
    }

    TGDEntryList shown;
    QString indicator;
};

TEST(PickerTest, HeaderClicksSortByTheColumnsKeyAndFlipOnTheSameColumn)
{
    SydneyTime zone;
    TempHome home;
    Settings::registerDefaults();
    // Channel keys unknown to the display-name table are shown as they are.
    const QStringList lines = {
        "Zed\t2007-03-12 18:00\t30\tCafé Society\tThe Guests [Lifestyle]\tFood and wine.\tPG\tN",
        "Abc\t2007-03-12 19:00\t60\tthe news\tEvening [News]\tHeadlines of the day.\tG\tN",
        "Zed\t2007-03-12 06:00\t30\tBondi Rescue\t[Reality]\tSurf and sun at the beach.\tPG\tY",
        "Abc\t2007-03-12 20:30\t90\tLost\t[Drama]\t\tM\t-05 +10",
        "Abc\t2007-03-12 21:00\t30\tNews Café\t[News]\tLate news from the café.\tMA15+\tN",
    };
    TGDFile file;
    file.loadTGDData(lines.join('\n').toLatin1(), "20070312", false);
    const TGDEntryList all = file.getFileData();
    RecordingView view;
    const struct {
        QStringList clicks;
        QString indicator;
        QStringList order; // after the last click
        bool ascendingNext;
    } cases[] = {
        { { "title", "title", "title" }, "title asc",
            { "Bondi Rescue", "Café Society", "Lost", "News Café", "the news" }, false },
        { { "title", "title" }, "title desc",
            { "the news", "News Café", "Lost", "Café Society", "Bondi Rescue" }, true },
        { { "title", "start", "start" }, "start desc",
            { "News Café", "Lost", "the news", "Café Society", "Bondi Rescue" }, true },
        { { "duration" }, "duration asc",
            { "Café Society", "Bondi Rescue", "News Café", "the news", "Lost" }, false },
        { { "dispChannel", "record" }, "record asc",
            { "the news", "News Café", "Café Society", "Lost", "Bondi Rescue" }, false },
        // No sort key: the order stays, the indicator and the direction move as for a sort.
        { { "title", "sub" }, "sub asc",
            { "Bondi Rescue", "Café Society", "Lost", "News Café", "the news" }, false },
        { { "title", "title", "sub", "sub" }, "sub desc",
            { "the news", "News Café", "Lost", "Café Society", "Bondi Rescue" }, true },
    };
    for (const auto &c : cases) {
        TGDPickerController fresh;
        fresh.setView(&view);
        fresh.setFileList(all);
        for (const QString &column : c.clicks)
            fresh.didClickTableColumn(column);
        const std::string name = c.clicks.join(',').toStdString();
        EXPECT_EQ(view.indicator, c.indicator) << name;
        EXPECT_EQ(titles(fresh.getFileData()), c.order) << name;
        EXPECT_EQ(titles(view.shown), c.order) << name;
        EXPECT_EQ(fresh.sortAscending(), c.ascendingNext) << name;
        EXPECT_EQ(fresh.selectedColumn(), c.clicks.last()) << name;
    }
}

} // namespace
