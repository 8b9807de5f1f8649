#include "ui/ModeController.h"

#include <gtest/gtest.h>

namespace {

class FakeModeView : public ModeView {
public:
    explicit FakeModeView(ModeController &c) : controller(c) {}
    void showTab(int index) override { tab = index; }
    int tabIndexForIdentifier(const QString &id) const override
    {
        return QStringList({"TGDs", "Keywords", "Grid", "Now on"}).indexOf(id);
    }
    void selectModeRow(int row) override
    {
        selectedRow = row;
        controller.selectionDidChange(row);
    }
    ModeController &controller;
    int tab = 0;
    int selectedRow = 0;
};

TEST(Modes, RowsSelectTabsAndButtonsMoveBoth)
{
    ModeController modes;
    FakeModeView view(modes);
    modes.setView(&view);
    EXPECT_EQ(modes.numberOfRows(), 4);
    EXPECT_EQ(modes.objectValue(3), "Now on");
    modes.selectionDidChange(2);
    EXPECT_EQ(view.tab, 2);
    modes.selectionDidChange(-1);
    EXPECT_EQ(view.tab, 2);
    modes.selectTab("Now on");
    EXPECT_EQ(view.tab, 3);
    EXPECT_EQ(view.selectedRow, 3);
    modes.selectTab("No such tab");
    EXPECT_EQ(view.tab, 3);
}

} // namespace
