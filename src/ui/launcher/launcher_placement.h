// Where the launcher window goes: the middle of the work area, at exactly the
// size of its picture, even when that puts part of it off the screen.
#pragma once

#include "ui/framework/centring.h"

// x = (work width - width) / 2 + work left, y likewise, each division signed
// and truncated toward zero.
void CenterInWorkArea(const PlacementRect& work, int width, int height, int* pX, int* pY);
