// The viewer's arrangement arithmetic, in twips.
#include "viewer/viewerlayout.h"

#include <gtest/gtest.h>

using namespace kiku;

namespace {

ViewerLayoutInput window(double width, double height) {
    ViewerLayoutInput in;
    in.width = width;
    in.height = height;
    in.paneLeft = 20;
    in.copyButtonLeft = 1880;
    in.statusBarLeft = 0;
    in.statusBarTop = 8100;
    return in;
}

} // namespace

TEST(ViewerLayout, ResizeOfA12000By9000Window) {
    const ViewerLayout out = computeViewerLayout(window(12000, 9000));
    EXPECT_DOUBLE_EQ(out.listWidth, 11880);
    EXPECT_DOUBLE_EQ(out.listHeight, 2250);
    EXPECT_DOUBLE_EQ(out.boxesTop, 3690);
    EXPECT_DOUBLE_EQ(out.paneTop, 4080);
    EXPECT_DOUBLE_EQ(out.paneHeight, 3712.5);
    EXPECT_DOUBLE_EQ(out.paneWidth, 11880);
    EXPECT_DOUBLE_EQ(out.stripWidth, 12000);
    // The three boxes share the width 5 : 3 : 2, side by side under the list.
    EXPECT_DOUBLE_EQ(out.subjectLeft, 5);
    EXPECT_DOUBLE_EQ(out.subjectWidth, 6000);
    EXPECT_DOUBLE_EQ(out.addressLeft, 6005);
    EXPECT_DOUBLE_EQ(out.addressWidth, 3600);
    EXPECT_DOUBLE_EQ(out.dateLeft, 9585);
    EXPECT_DOUBLE_EQ(out.dateWidth, 2400);
    // The status-line controls.
    EXPECT_DOUBLE_EQ(out.copyButtonLeft, 1880);
    EXPECT_DOUBLE_EQ(out.copyButtonTop, 8180);
    EXPECT_DOUBLE_EQ(out.stagingLeft, 5260);
    EXPECT_DOUBLE_EQ(out.stagingTop, 8180);
    EXPECT_FALSE(out.hideHint);
}

TEST(ViewerLayout, MouseMoveGivesThePaneALargerShareAndHidesTheHint) {
    ViewerLayoutInput in = window(12000, 9000);
    in.trigger = LayoutTrigger::MouseMove;
    const ViewerLayout out = computeViewerLayout(in);
    EXPECT_DOUBLE_EQ(out.paneHeight, 3780); // (9000 - 2250) * 0.56
    EXPECT_DOUBLE_EQ(out.listHeight, 2250);
    EXPECT_TRUE(out.hideHint);
}

TEST(ViewerLayout, MaximisedPutsTheCopyControlsAboveTheBottomEdge) {
    ViewerLayoutInput in = window(19440, 15000);
    in.maximised = true;
    const ViewerLayout out = computeViewerLayout(in);
    EXPECT_DOUBLE_EQ(out.stagingTop, 14000);
    EXPECT_DOUBLE_EQ(out.copyButtonTop, 14020);
    EXPECT_DOUBLE_EQ(out.listWidth, 19245.6);
    EXPECT_DOUBLE_EQ(out.listHeight, 3750);
    EXPECT_DOUBLE_EQ(out.paneHeight, (15000 - 3750) * 0.55);
    // Lefts do not depend on the window state.
    EXPECT_DOUBLE_EQ(out.copyButtonLeft, 1880);
}

TEST(ViewerLayout, StagingBoxFollowsTheCopyButtonOfTheArrangementBefore) {
    // The staging box is placed from where the copy button was, and the copy button then
    // moves to the status bar: an arrangement after a status-bar move catches up one step
    // later.
    ViewerLayoutInput in = window(12000, 9000);
    in.copyButtonLeft = 500;
    in.statusBarLeft = 100;
    const ViewerLayout first = computeViewerLayout(in);
    EXPECT_DOUBLE_EQ(first.stagingLeft, 3880);
    EXPECT_DOUBLE_EQ(first.copyButtonLeft, 1980);
    in.copyButtonLeft = first.copyButtonLeft;
    const ViewerLayout second = computeViewerLayout(in);
    EXPECT_DOUBLE_EQ(second.stagingLeft, 5360);
    EXPECT_DOUBLE_EQ(second.copyButtonLeft, 1980);
}

TEST(ViewerLayout, PaneLeftMovesTheBoxes) {
    ViewerLayoutInput in = window(10000, 8000);
    in.paneLeft = 215;
    const ViewerLayout out = computeViewerLayout(in);
    EXPECT_DOUBLE_EQ(out.subjectLeft, 200);
    EXPECT_DOUBLE_EQ(out.addressLeft, 5200);
    EXPECT_DOUBLE_EQ(out.dateLeft, 8180);
}
