#include "ui/game/game_layout.h"

const LayoutRule GAME_LAYOUT_RULES[6] = {
    {1006, 0, 100}, {1007, 0, 100}, {1012, 0, 100}, {1008, 0, 100}, {1010, 0, 100}, {1009, 0, 100},
};

int GameHitTest(int x, int y, const PlacementRect& window)
{
    const int edge = 3;
    const int corner = 10;
    if (x <= window.left + edge) return HIT_LEFT;
    if (x >= window.right - edge) return HIT_RIGHT;
    if (y <= window.top + edge) return HIT_TOP;
    if (y >= window.bottom - edge) return HIT_BOTTOM;
    bool left = x <= window.left + corner;
    bool right = x >= window.right - corner;
    bool top = y <= window.top + corner;
    bool bottom = y >= window.bottom - corner;
    if (left && top) return HIT_TOPLEFT;
    if (right && top) return HIT_TOPRIGHT;
    if (left && bottom) return HIT_BOTTOMLEFT;
    if (right && bottom) return HIT_BOTTOMRIGHT;
    return HIT_CLIENT;
}

GameCursor CursorForHitTest(int code)
{
    switch (code) {
    case HIT_TOP:
    case HIT_BOTTOM:
        return GameCursor::SIZE_NS;
    case HIT_LEFT:
    case HIT_RIGHT:
        return GameCursor::SIZE_WE;
    case HIT_TOPLEFT:
    case HIT_BOTTOMRIGHT:
        return GameCursor::SIZE_NWSE;
    case HIT_TOPRIGHT:
    case HIT_BOTTOMLEFT:
        return GameCursor::SIZE_NESW;
    default:
        return GameCursor::ARROW;
    }
}

int SizingCommandForHitTest(int code)
{
    const int SC_SIZE_BASE = 0xF000;
    switch (code) {
    case HIT_LEFT: return SC_SIZE_BASE + 1;
    case HIT_RIGHT: return SC_SIZE_BASE + 2;
    case HIT_TOP: return SC_SIZE_BASE + 3;
    case HIT_TOPLEFT: return SC_SIZE_BASE + 4;
    case HIT_TOPRIGHT: return SC_SIZE_BASE + 5;
    case HIT_BOTTOM: return SC_SIZE_BASE + 6;
    case HIT_BOTTOMLEFT: return SC_SIZE_BASE + 7;
    case HIT_BOTTOMRIGHT: return SC_SIZE_BASE + 8;
    default: return 0;
    }
}

bool PressStartsDrag(unsigned int clientY)
{
    return clientY >= 4 && clientY <= 26;
}

bool DoubleClickTogglesSize(unsigned int clientY)
{
    return clientY <= 26;
}

bool ApplyLayoutRule(const LayoutRule& rule, int dx, int dy, ChildBox* pBox)
{
    if (rule.percent < 0 || rule.percent > 100) return false;
    int shiftX = rule.percent * dx / 100;
    int shiftY = rule.percent * dy / 100;
    switch (rule.mode) {
    case 0: pBox->left += shiftX; break;
    case 1: pBox->top += shiftY; break;
    case 2: pBox->left += shiftX; pBox->top += shiftY; break;
    case 3: pBox->width += shiftX; break;
    case 4: pBox->height += shiftY; break;
    case 5: pBox->width += shiftX; pBox->height += shiftY; break;
    default: break;
    }
    return true;
}

LayoutChange ComputeLayoutChange(int sizeType, int cx, int cy, int lastWidth, int lastHeight, int fullScreenHeight)
{
    LayoutChange change;
    int limit = fullScreenHeight + 26;
    change.clampedHeight = cy < limit ? cy : limit;
    bool minimised = sizeType == SIZE_TYPE_MINIMIZED;
    change.dx = minimised ? 0 : cx - lastWidth;
    change.dy = minimised ? 0 : change.clampedHeight - lastHeight;
    change.bUpdateBase = !minimised;
    return change;
}
