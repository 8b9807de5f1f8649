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

    void showDetail(const ProgrammeDetail &d) override { detail = d; }

    TGDEntryList shown;
    QString indicator;
    ProgrammeDetail detail;
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
        // Episode, category and rating as text; equal keys keep the order they had.
        { { "title", "sub" }, "sub asc",
            { "Bondi Rescue", "Lost", "News Café", "the news", "Café Society" }, false },
        { { "title", "sub", "sub" }, "sub desc",
            { "Café Society", "the news", "Bondi Rescue", "Lost", "News Café" }, true },
        { { "cat" }, "cat asc", { "Lost", "Café Society", "the news", "News Café", "Bondi Rescue" },
            false },
        { { "rating" }, "rating asc",
            { "the news", "Lost", "News Café", "Café Society", "Bondi Rescue" }, false },
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
        // Other days chosen (here: the same programmes, listed backwards) keep the order:
        // the column's values come in the same sequence (ties in the new list's order).
        const auto keys = [&c](const TGDEntryList &list) {
            QStringList k;
            for (const TGDEntryPtr &e : list)
                k << e->value(c.clicks.last()).toString();
            return k;
        };
        const QStringList sorted = keys(fresh.getFileData());
        fresh.setFileList(TGDEntryList(all.rbegin(), all.rend()));
        EXPECT_EQ(keys(fresh.getFileData()), sorted) << name;
    }
}

// The detail area shows the one programme selected, all of it, or nothing of any: what
// another programme left there would be read, and its extensions edited, as this one's.
// ("sub" is as derived: with the space that stood before the category.)
TEST(PickerTest, TheDetailAreaBelongsToTheOneSelectedProgrammeOrToNone)
{
    SydneyTime zone;
    TempHome home;
    Settings::registerDefaults();
    TGDFile file;
    file.loadTGDData("7\t2007-03-12 20:30\t60\tLost\tPilot [Drama]\tOn an island.\tM\t-05 +10\n"
                     "9\t2007-03-12 21:30\t30\tQuiz\tRound One [Game Show]\t\tG\tN\n",
        "20070312", false);
    const TGDEntryList all = file.getFileData();
    ASSERT_EQ(all.size(), 2u);
    const struct {
        const char *name;
        TGDEntryList selected;
        QString description, sub, cat;
        bool grey, extVisible;
        QString extStart, extStop;
    } steps[] = {
        { "a marked programme", { all[0] }, "On an island.", "Pilot ", "Drama", false, true, "5",
            "10" },
        { "one without a description", { all[1] }, "", "Round One ", "Game Show", false, false, "",
            "" },
        { "back to the first", { all[0] }, "On an island.", "Pilot ", "Drama", false, true, "5",
            "10" },
        { "several", all, "Multiple rows selected", "", "", true, false, "", "" },
        { "none", {}, "No rows selected", "", "", true, false, "", "" },
    };
    RecordingView view;
    TGDPickerController picker;
    picker.setView(&view);
    picker.setFileList(all);
    for (const auto &s : steps) {
        SCOPED_TRACE(s.name);
        picker.selectionDidChange(s.selected);
        EXPECT_EQ(view.detail.description, s.description);
        EXPECT_EQ(view.detail.sub, s.sub);
        EXPECT_EQ(view.detail.cat, s.cat);
        EXPECT_EQ(view.detail.descriptionGrey, s.grey);
        EXPECT_EQ(view.detail.extVisible, s.extVisible);
        EXPECT_EQ(view.detail.extStart, s.extStart);
        EXPECT_EQ(view.detail.extStop, s.extStop);
    }
    // Extension fields typed with nothing selected change no programme.
    picker.changeExt("30", "30");
    EXPECT_EQ(all[0]->extStart, 5);
}

} // namespace
