// The game window's arithmetic: its own hit test and cursors, where a press
// drags or a double click toggles the size, the layout rules that keep the
// title band's buttons at the right edge, and the height clamp.
#pragma once

#include "ui/framework/window_placement.h"

// Hit-test codes, as the system numbers them.
const int HIT_CLIENT = 1;
const int HIT_LEFT = 10;
const int HIT_RIGHT = 11;
const int HIT_TOP = 12;
const int HIT_TOPLEFT = 13;
const int HIT_TOPRIGHT = 14;
const int HIT_BOTTOM = 15;
const int HIT_BOTTOMLEFT = 16;
const int HIT_BOTTOMRIGHT = 17;

// The code for a pointer at screen (x, y) over the window rectangle: the
// 3-pixel edges first, then the 10-pixel corner squares, else the client.
int GameHitTest(int x, int y, const PlacementRect& window);

enum class GameCursor { ARROW, SIZE_NS, SIZE_WE, SIZE_NWSE, SIZE_NESW };
GameCursor CursorForHitTest(int code);

// SC_SIZE plus the edge (61441..61448) for a sizing code; 0 for any other.
int SizingCommandForHitTest(int code);

// A left press at this client y (the unsigned high word of lParam) drags the
// window: 4..26 inclusive.
bool PressStartsDrag(unsigned int clientY);
// A double click at this client y toggles the size: 26 or less.
bool DoubleClickTogglesSize(unsigned int clientY);

// Modes of a layout rule: move right, move down, both, widen, heighten,
// widen and heighten, by percent % of the size change.
struct LayoutRule {
    int id;
    int mode;
    int percent;
};

// 1006, 1007, 1012, 1008, 1010, 1009: move right by the whole width change.
extern const LayoutRule GAME_LAYOUT_RULES[6];

struct ChildBox {
    int left;
    int top;
    int width;
    int height;
};

// Applies one rule to a child's box; false (box unchanged) when the percent
// lies outside 0..100. Shifts are percent * change / 100, truncated toward
// zero.
bool ApplyLayoutRule(const LayoutRule& rule, int dx, int dy, ChildBox* pBox);

const int SIZE_TYPE_RESTORED = 0;
const int SIZE_TYPE_MINIMIZED = 1;
const int SIZE_TYPE_MAXIMIZED = 2;

// What one WM_SIZE does: the clamped height (at most fullScreenHeight + 26),
// the changes against the stored base (both 0 when minimised) and whether the
// base and the browser follow.
struct LayoutChange {
    int clampedHeight;
    int dx;
    int dy;
    bool bUpdateBase;
};
LayoutChange ComputeLayoutChange(int sizeType, int cx, int cy, int lastWidth, int lastHeight, int fullScreenHeight);
