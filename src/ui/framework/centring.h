// The window-centring rule, as arithmetic: centre over a reference
// rectangle, then keep the window inside the work area, the left and top
// edges winning when the window is larger than the area.
#pragma once

struct PlacementRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

// The new left and top edges for a window of width x height. Divisions are
// signed and truncate toward zero.
void CenterWithin(const PlacementRect& reference, const PlacementRect& workArea, int width, int height,
                  int* pLeft, int* pTop);
