// The game window's arithmetic: hit test, cursors, drag and toggle zones,
// layout rules and the height clamp.
#include "ui/game/game_layout.h"

#include <gtest/gtest.h>

namespace {

TEST(GameHitTest, EdgesBeatCornersAtAnyPosition)
{
    for (int origin : {0, -1500}) {   // a display left of and above the primary one too
        PlacementRect window{origin, origin, origin + 800, origin + 600};
        auto at = [&](int dx, int dy) { return GameHitTest(origin + dx, origin + dy, window); };
        EXPECT_EQ(HIT_LEFT, at(2, 2)) << origin;          // 2 inside the corner: the edge wins
        EXPECT_EQ(HIT_LEFT, at(3, 300));
        EXPECT_EQ(HIT_TOPLEFT, at(5, 5));
        EXPECT_EQ(HIT_TOPLEFT, at(10, 10));
        EXPECT_EQ(HIT_CLIENT, at(11, 10));
        EXPECT_EQ(HIT_TOP, at(4, 3));
        EXPECT_EQ(HIT_RIGHT, at(797, 2));
        EXPECT_EQ(HIT_TOPRIGHT, at(795, 5));
        EXPECT_EQ(HIT_BOTTOM, at(400, 597));
        EXPECT_EQ(HIT_BOTTOMLEFT, at(5, 595));
        EXPECT_EQ(HIT_BOTTOMRIGHT, at(790, 590));
        EXPECT_EQ(HIT_CLIENT, at(400, 300));
        EXPECT_EQ(HIT_CLIENT, at(789, 300));
    }
}

TEST(GameHitTest, CursorsAndSizingCommands)
{
    EXPECT_EQ(GameCursor::SIZE_NS, CursorForHitTest(HIT_TOP));
    EXPECT_EQ(GameCursor::SIZE_NS, CursorForHitTest(HIT_BOTTOM));
    EXPECT_EQ(GameCursor::SIZE_WE, CursorForHitTest(HIT_LEFT));
    EXPECT_EQ(GameCursor::SIZE_WE, CursorForHitTest(HIT_RIGHT));
    EXPECT_EQ(GameCursor::SIZE_NWSE, CursorForHitTest(HIT_TOPLEFT));
    EXPECT_EQ(GameCursor::SIZE_NWSE, CursorForHitTest(HIT_BOTTOMRIGHT));
    EXPECT_EQ(GameCursor::SIZE_NESW, CursorForHitTest(HIT_TOPRIGHT));
    EXPECT_EQ(GameCursor::SIZE_NESW, CursorForHitTest(HIT_BOTTOMLEFT));
    for (int code : {HIT_CLIENT, 2, 3, 5, 0, -1}) EXPECT_EQ(GameCursor::ARROW, CursorForHitTest(code)) << code;

    const int expected[][2] = {{HIT_LEFT, 61441},    {HIT_RIGHT, 61442},      {HIT_TOP, 61443},
                               {HIT_TOPLEFT, 61444}, {HIT_TOPRIGHT, 61445},   {HIT_BOTTOM, 61446},
                               {HIT_BOTTOMLEFT, 61447}, {HIT_BOTTOMRIGHT, 61448}, {HIT_CLIENT, 0}, {2, 0}};
    for (const auto& pair : expected) EXPECT_EQ(pair[1], SizingCommandForHitTest(pair[0])) << pair[0];
}

TEST(GameTitleBand, DragAndToggleZones)
{
    EXPECT_FALSE(PressStartsDrag(3));
    EXPECT_TRUE(PressStartsDrag(4));
    EXPECT_TRUE(PressStartsDrag(26));
    EXPECT_FALSE(PressStartsDrag(27));
    EXPECT_FALSE(PressStartsDrag(0xFFFF));   // a negative y read unsigned
    EXPECT_TRUE(DoubleClickTogglesSize(0));
    EXPECT_TRUE(DoubleClickTogglesSize(26));
    EXPECT_FALSE(DoubleClickTogglesSize(27));
    EXPECT_FALSE(DoubleClickTogglesSize(0xFFFE));
}

TEST(GameLayout, RightButtonsFollowTheWidthChange)
{
    const int ids[] = {1006, 1007, 1012, 1008, 1010, 1009};
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(ids[i], GAME_LAYOUT_RULES[i].id);
        ChildBox box{500, 3, 26, 25};
        ASSERT_TRUE(ApplyLayoutRule(GAME_LAYOUT_RULES[i], 100, 40, &box));
        EXPECT_EQ(600, box.left);
        EXPECT_EQ(3, box.top);
        EXPECT_EQ(26, box.width);
    }
}

TEST(GameLayout, ModesAndTruncatingPercentages)
{
    struct Case {
        LayoutRule rule;
        int dx, dy;
        ChildBox expected;
        bool applied;
    };
    const ChildBox start{10, 20, 30, 40};
    const Case cases[] = {
        {{1, 0, 50}, 7, 9, {13, 20, 30, 40}, true},     // 50 * 7 / 100 = 3
        {{1, 0, 50}, -7, 9, {7, 20, 30, 40}, true},     // -3, toward zero
        {{1, 1, 100}, 7, 9, {10, 29, 30, 40}, true},
        {{1, 2, 100}, 7, 9, {17, 29, 30, 40}, true},
        {{1, 3, 100}, 7, 9, {10, 20, 37, 40}, true},
        {{1, 4, 100}, 7, 9, {10, 20, 30, 49}, true},
        {{1, 5, 10}, 70, 90, {10, 20, 37, 49}, true},
        {{1, 6, 100}, 7, 9, {10, 20, 30, 40}, true},    // unknown mode: stays
        {{1, 0, 101}, 7, 9, {10, 20, 30, 40}, false},
        {{1, 0, -1}, 7, 9, {10, 20, 30, 40}, false},
    };
    for (const Case& c : cases) {
        ChildBox box = start;
        EXPECT_EQ(c.applied, ApplyLayoutRule(c.rule, c.dx, c.dy, &box));
        EXPECT_EQ(c.expected.left, box.left);
        EXPECT_EQ(c.expected.top, box.top);
        EXPECT_EQ(c.expected.width, box.width);
        EXPECT_EQ(c.expected.height, box.height);
    }
}

TEST(GameLayout, HeightClampAndMinimising)
{
    LayoutChange grow = ComputeLayoutChange(SIZE_TYPE_RESTORED, 1400, 900, 1300, 800, 1091);
    EXPECT_EQ(100, grow.dx);
    EXPECT_EQ(100, grow.dy);
    EXPECT_EQ(900, grow.clampedHeight);
    EXPECT_TRUE(grow.bUpdateBase);

    LayoutChange tall = ComputeLayoutChange(SIZE_TYPE_MAXIMIZED, 1920, 1200, 1920, 1000, 1091);
    EXPECT_EQ(1117, tall.clampedHeight);   // SM_CYFULLSCREEN + 26
    EXPECT_EQ(117, tall.dy);

    LayoutChange minimised = ComputeLayoutChange(SIZE_TYPE_MINIMIZED, 0, 0, 1300, 800, 1091);
    EXPECT_EQ(0, minimised.dx);
    EXPECT_EQ(0, minimised.dy);
    EXPECT_FALSE(minimised.bUpdateBase);
}

}  // namespace
