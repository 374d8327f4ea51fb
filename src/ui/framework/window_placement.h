// Where windows go, as arithmetic: centring over a reference rectangle
// within the work area (the game window and the launcher's dialog), and the
// launcher window's place in the middle of the work area.
#pragma once

struct PlacementRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

// The new left and top edges for a window of width x height centred over
// reference, then kept inside the work area, the left and top edges winning
// when the window is larger than the area. Divisions are signed and
// truncate toward zero.
void CenterWithin(const PlacementRect& reference, const PlacementRect& workArea, int width, int height,
                  int* pLeft, int* pTop);

// The launcher window's place: the middle of the work area at exactly its
// picture's size, even when that puts part of it off the screen.
// x = (work width - width) / 2 + work left, y likewise, each division signed
// and truncated toward zero.
void CenterInWorkArea(const PlacementRect& work, int width, int height, int* pX, int* pY);
