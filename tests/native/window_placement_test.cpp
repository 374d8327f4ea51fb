// Where windows go: centring within the work area, and the launcher
// window's place in its middle.
#include "ui/framework/window_placement.h"

#include <gtest/gtest.h>

namespace {

TEST(Centring, OverTheReferenceInsideTheWorkArea)
{
    PlacementRect work{0, 0, 1920, 1040};
    int x = 0;
    int y = 0;
    CenterWithin(work, work, 1200, 800, &x, &y);
    EXPECT_EQ(360, x);
    EXPECT_EQ(120, y);
    // Larger than the area: the left and top edges stay inside.
    CenterWithin(work, work, 2000, 1100, &x, &y);
    EXPECT_EQ(0, x);
    EXPECT_EQ(0, y);
    // Over an owner near the right edge: pushed back inside.
    CenterWithin(PlacementRect{1800, 100, 1900, 200}, work, 400, 300, &x, &y);
    EXPECT_EQ(1520, x);
    EXPECT_EQ(0, y);
    // Truncation toward zero on a work area at negative coordinates.
    CenterWithin(PlacementRect{-1023, 0, 0, 737}, PlacementRect{-1023, 0, 0, 737}, 201, 101, &x, &y);
    EXPECT_EQ(-511 - 100, x);
    EXPECT_EQ(368 - 50, y);
}

TEST(LauncherPlacement, CentredWithTruncationTowardZero)
{
    struct Case {
        PlacementRect work;
        int x, y;
    };
    const Case cases[] = {
        {{0, 0, 1920, 1040}, 360, 120},
        {{0, 0, 1366, 728}, 83, -36},
        {{0, 0, 1023, 737}, -88, -31},     // -177 / 2 and -63 / 2, not -89 and -32
        {{100, 40, 2020, 1080}, 460, 160},
    };
    for (const Case& c : cases) {
        int x = 0;
        int y = 0;
        CenterInWorkArea(c.work, 1200, 800, &x, &y);
        EXPECT_EQ(c.x, x) << c.work.right;
        EXPECT_EQ(c.y, y) << c.work.right;
    }
}

}  // namespace
