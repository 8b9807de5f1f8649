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
    void endSearch() override { ++searchEnds; }
    void showSortIndicator(const QString &column, bool ascending) override
    {
        indicator = column + (ascending ? " asc" : " desc");
    }
    void showDetail(const ProgrammeDetail &d) override { detail = d; }

    TGDEntryList shown;
    int searchEnds = 0;
    QString indicator;
    ProgrammeDetail detail;
};

class PickerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Settings::registerDefaults();
        // Channel keys unknown to the display-name table are shown as they are.
        const QStringList lines = {
            "Zed\t2007-03-12 18:00\t30\tCafé Society\tThe Guests [Lifestyle]\tFood and "
            "wine.\tPG\tN",
            "Abc\t2007-03-12 19:00\t60\tthe news\tEvening [News]\tHeadlines of the day.\tG\tN",
            "Zed\t2007-03-12 06:00\t30\tBondi Rescue\t[Reality]\tSurf and sun at the beach.\tPG\tY",
            "Abc\t2007-03-12 20:30\t90\tLost\t[Drama]\t\tM\t-05 +10",
            "Abc\t2007-03-12 21:00\t30\tNews Café\t[News]\tLate news from the café.\tMA15+\tN",
        };
        file.loadTGDData(lines.join('\n').toLatin1(), "20070312", false);
        all = file.getFileData();
        picker.setView(&view);
        picker.setFileList(all);
    }
    TGDEntryPtr titled(const QString &title) const
    {
        for (const TGDEntryPtr &e : all)
            if (e->title == title)
                return e;
        return nullptr;
    }
    static QStringList titles(const TGDEntryList &list)
    {
        QStringList out;
        for (const TGDEntryPtr &e : list)
            out << e->title;
        return out;
    }

    SydneyTime zone;
    TempHome home;
    TGDFile file;
    TGDEntryList all;
    RecordingView view;
    TGDPickerController picker;
};

TEST_F(PickerTest, EveryWordMustBeFoundInOneOfTheFiveFieldsIgnoringCaseAndAccents)
{
    const struct {
        const char *text;
        QStringList found;
    } cases[] = {
        { "cafe", { "Café Society", "News Café" } },
        { "CAFÉ  society", { "Café Society" } }, // two spaces: two words
        { " news  cafe ", { "News Café" } }, { "lifestyle", { "Café Society" } }, // the category
        { "beach", { "Bondi Rescue" } }, // the description
        { "ma15", { "News Café" } }, // the rating
        { "zed pg", { "Café Society", "Bondi Rescue" } }, // the channel, in list order
        { "the", { "Café Society", "the news", "Bondi Rescue", "News Café" } },
        { "news guests", {} }, { "   ", {} },
        { "\xcc\x81", {} }, // a combining mark alone folds to nothing
    };
    for (const auto &c : cases) {
        picker.search(QString::fromUtf8(c.text));
        EXPECT_TRUE(picker.searchIsActive()) << c.text;
        EXPECT_EQ(titles(picker.shownList()), c.found) << c.text;
        EXPECT_EQ(titles(view.shown), c.found) << c.text;
    }
    picker.search("");
    EXPECT_FALSE(picker.searchIsActive());
    EXPECT_EQ(view.shown, all);
}

TEST_F(PickerTest, ANewWorkingListStaysBehindTheSearchUntilItsTextChanges)
{
    picker.search("news");
    picker.setFileList({ titled("Lost"), titled("the news") });
    picker.reloadTable();
    EXPECT_EQ(titles(view.shown), QStringList({ "the news", "News Café" }));
    // The result still sorts by what it was found in.
    picker.didClickTableColumn("title");
    EXPECT_EQ(titles(view.shown), QStringList({ "News Café", "the news" }));
    picker.search("news ");
    EXPECT_EQ(titles(view.shown), QStringList({ "the news" }));
    // A day file read ends the search and clears the field.
    picker.endSearch();
    picker.reloadTable();
    EXPECT_EQ(view.searchEnds, 1);
    EXPECT_EQ(titles(view.shown), QStringList({ "Lost", "the news" }));
}

TEST_F(PickerTest, HeaderClicksSortByTheColumnsKeyAndFlipOnTheSameColumn)
{
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

TEST_F(PickerTest, SortingDuringASearchReordersOnlyTheResult)
{
    picker.search("cafe");
    picker.didClickTableColumn("title");
    picker.didClickTableColumn("title");
    EXPECT_EQ(titles(view.shown), QStringList({ "News Café", "Café Society" }));
    picker.search("");
    EXPECT_EQ(view.shown, all);
}

TEST_F(PickerTest, TheDetailAreaFollowsTheSelectionAndTheEditedProgramme)
{
    std::vector<QString> edited;
    picker.setEditor([&](const TGDEntryPtr &e, std::function<void(TGDEntry &)> change) {
        edited.push_back(e->title);
        change(*e);
    });
    const TGDEntryPtr cafe = titled("Café Society"), bondi = titled("Bondi Rescue"),
                      lost = titled("Lost");
    const struct {
        const char *step;
        std::function<void()> act;
        QString description, sub, cat;
        bool grey, extVisible;
        QString extStart, extStop;
    } steps[] = {
        { "nothing", [&] { picker.selectionDidChange({}); }, "No rows selected", "", "", true,
            false, "", "" },
        { "recorded", [&] { picker.selectionDidChange({ bondi }); }, "Surf and sun at the beach.",
            "", "Reality", false, true, "0", "0" },
        { "no description", [&] { picker.selectionDidChange({ lost }); }, "", "", "Reality", false,
            true, "0", "0" },
        { "two",
            [&] {
                picker.selectionDidChange({ cafe, bondi });
            },
            "Multiple rows selected", "", "Reality", true, false, "", "" },
        { "one", [&] { picker.selectionDidChange({ cafe }); }, "Food and wine.", "The Guests ",
            "Lifestyle", false, false, "", "" },
        { "record on", [&] { picker.setObjectValue(cafe, "record", true); }, "Food and wine.",
            "The Guests ", "Lifestyle", false, true, "0", "0" },
        { "extension", [&] { picker.changeExt(" -5 min", "+12x"); }, "Food and wine.",
            "The Guests ", "Lifestyle", false, true, " -5 min", "+12x" },
        { "record off", [&] { picker.setObjectValue(cafe, "record", false); }, "Food and wine.",
            "The Guests ", "Lifestyle", false, false, " -5 min", "+12x" },
    };
    for (const auto &s : steps) {
        s.act();
        const ProgrammeDetail &d = picker.detail();
        EXPECT_EQ(d.description, s.description) << s.step;
        EXPECT_EQ(d.sub, s.sub) << s.step;
        EXPECT_EQ(d.cat, s.cat) << s.step;
        EXPECT_EQ(d.descriptionGrey, s.grey) << s.step;
        EXPECT_EQ(d.extVisible, s.extVisible) << s.step;
        if (s.extVisible) {
            EXPECT_EQ(d.extStart, s.extStart) << s.step;
            EXPECT_EQ(d.extStop, s.extStop) << s.step;
        }
    }
    // Unchecking kept the extensions; every change went through the editor.
    EXPECT_TRUE(!cafe->record && cafe->extStart == -5 && cafe->extStop == 12);
    EXPECT_EQ(edited, std::vector<QString>(3, "Café Society"));

    // Hidden fields change nothing; a field without a number reads 0.
    picker.changeExt("7", "7");
    EXPECT_EQ(cafe->extStart, -5);
    picker.selectionDidChange({ bondi });
    picker.changeExt("none", "");
    EXPECT_TRUE(bondi->extStart == 0 && bondi->extStop == 0);
}

} // namespace
