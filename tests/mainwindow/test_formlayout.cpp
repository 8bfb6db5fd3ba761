#include "mainwindow/formlayout.h"
#include "mainwindow/listsorting.h"

#include <gtest/gtest.h>

namespace {

// pctContainer.Width = W - 75 - 1335, so this W gives the wanted width.
double outerWidthFor(double viewportWidth) { return viewportWidth + 75 + 1335; }

TEST(FormLayout, HalfSplitSharesTheHeight)
{
    FormGeometry g;
    formResize(g, {outerWidthFor(6255), 5400, 50, 0});
    EXPECT_DOUBLE_EQ(g.pctContainer.height, 2700);
    EXPECT_DOUBLE_EQ(g.sepa1.top, 2700);
    EXPECT_DOUBLE_EQ(g.txtDescription.top, 2730);
    EXPECT_DOUBLE_EQ(g.txtDescription.height, 2670);
    EXPECT_DOUBLE_EQ(g.txtDescription.top + g.txtDescription.height, 5400);
    EXPECT_DOUBLE_EQ(g.pctMenu.height, 5400);
    EXPECT_EQ(g.webBrowser, (TwipsRect{1335, 0, 6255, 5400}));
    EXPECT_DOUBLE_EQ(g.sepa1.left, 1335);
    EXPECT_DOUBLE_EQ(g.sepa1.height, 45);
}

TEST(FormLayout, ColumnsFollowTheContainerWidth)
{
    FormGeometry g;
    formResize(g, {outerWidthFor(6255), 5400, 50, 0});  // lstContainer 6000 wide
    ASSERT_DOUBLE_EQ(g.lstContainer.width, 6000);
    EXPECT_EQ(g.cmdTitle, (TwipsRect{0, 0, 2400, 255}));
    EXPECT_EQ(g.cmdFor, (TwipsRect{2400, 0, 1500, 255}));
    EXPECT_EQ(g.cmdDue, (TwipsRect{3900, 0, 2010, 255}));
    EXPECT_DOUBLE_EQ(g.lblTitle.width, 2400);
    EXPECT_DOUBLE_EQ(g.lblFor.left, 2400);
    EXPECT_DOUBLE_EQ(g.lblFor.width, 1500);
    EXPECT_DOUBLE_EQ(g.lblDue.left, 3900);
    EXPECT_DOUBLE_EQ(g.lblDue.width, 2010);
    EXPECT_DOUBLE_EQ(g.vscroll.rect.left, 5955);
}

struct ScrollCase {
    const char *name;
    int tasks;
    double statusBarTop;
    int valueBefore;
    int maximum;
    int value;
    double top;
    double height;
};

class FormLayoutScroll : public ::testing::TestWithParam<ScrollCase> { };

TEST_P(FormLayoutScroll, RangeValueAndContainer)
{
    const ScrollCase &c = GetParam();
    FormGeometry g;
    g.vscroll.value = c.valueBefore;
    formResize(g, {outerWidthFor(6255), c.statusBarTop, 50, c.tasks});
    EXPECT_EQ(g.vscroll.maximum, c.maximum);
    EXPECT_EQ(g.vscroll.value, c.value);
    EXPECT_DOUBLE_EQ(g.lstContainer.top, c.top);
    EXPECT_DOUBLE_EQ(g.lstContainer.height, c.height);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FormLayoutScroll,
    ::testing::Values(
        // (10 + 2) x 255 = 3060 rows in a 3000 viewport: 4 units, one viewport more.
        ScrollCase{"TenTasks", 10, 6000, 0, 4, 0, 0, 6060},
        // The window grew: the value comes down to the new maximum, the list with it.
        ScrollCase{"ValueAboveNewMaximum", 10, 6000, 100, 4, 4, -60, 6060},
        ScrollCase{"NothingToScroll", 0, 6000, 7, 0, 0, 0, 3510},
        ScrollCase{"LongList", 1001, 6000, 2200, 16851, 2200, -33000, 258765}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(FormLayout, NarrowWindowKeepsThePreviousWidths)
{
    FormGeometry g;
    formResize(g, {outerWidthFor(6255), 5400, 50, 0});
    const FormGeometry before = g;
    formResize(g, {1000, 5400, 50, 0});
    EXPECT_DOUBLE_EQ(g.pctContainer.width, before.pctContainer.width);
    EXPECT_DOUBLE_EQ(g.lstContainer.width, before.lstContainer.width);
    EXPECT_DOUBLE_EQ(g.cmdDue.width, before.cmdDue.width);
}

TEST(FormLayout, FailingHeightStepsAreSkipped)
{
    FormGeometry g;
    formResize(g, {outerWidthFor(6255), 5400, 50, 0});
    // Over 100: the pane's height would be negative and stays; its top moves on.
    formResize(g, {outerWidthFor(6255), 5400, 120, 0});
    EXPECT_DOUBLE_EQ(g.pctContainer.height, 6480);
    EXPECT_DOUBLE_EQ(g.txtDescription.height, 2670);
    EXPECT_DOUBLE_EQ(g.txtDescription.top, 6510);
    // Below 0: the viewport keeps its height and the bar stays under it.
    formResize(g, {outerWidthFor(6255), 5400, -3, 0});
    EXPECT_DOUBLE_EQ(g.pctContainer.height, 6480);
    EXPECT_DOUBLE_EQ(g.sepa1.top, 6480);
    // A minimized window: nothing negative is taken.
    formResize(g, {0, 0, 50, 0});
    EXPECT_DOUBLE_EQ(g.pctContainer.width, 6255);
    EXPECT_DOUBLE_EQ(g.txtDescription.height, 5532);
}

TEST(SplitPercent, TruncatedAndKeptInsideTheWindow)
{
    const struct {
        double top, statusBarTop;
        qint16 previous, expected;
    } cases[] = {
        {2700, 5400, 30, 50}, {2010, 5400, 50, 37},  // 37.2 truncated
        {2699, 5400, 50, 49}, {-135, 5400, 50, 5},   // above the viewport
        {6000, 5400, 50, 95}, {5400, 5400, 50, 95},  // under the status bar
        {2700, 0, 42, 42},    {2700, -15, 42, 42},   // no area to share
    };
    for (const auto &c : cases)
        EXPECT_EQ(splitPercentAt(c.top, c.statusBarTop, c.previous), c.expected)
            << c.top << " / " << c.statusBarTop;
}

TEST(Sorting, TransitionTable)
{
    // Rows: mode before; columns: after Title, For, Due.
    const qint16 table[][4] = {
        {0, 10, 1, 2},   {1, 0, 11, 2},   {2, 0, 1, 12},
        {10, 0, 11, 12}, {11, 10, 1, 12}, {12, 10, 11, 2},
    };
    for (const auto &r : table) {
        EXPECT_EQ(nextSortMode(r[0], 0, 10), r[1]) << "Title from " << r[0];
        EXPECT_EQ(nextSortMode(r[0], 1, 11), r[2]) << "For from " << r[0];
        EXPECT_EQ(nextSortMode(r[0], 2, 12), r[3]) << "Due from " << r[0];
    }
}

}  // namespace
