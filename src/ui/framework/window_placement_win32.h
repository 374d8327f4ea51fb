// Window placement on the system's windows and work area; the arithmetic is
// in window_placement.h.
#pragma once

#include <windows.h>

#include "ui/framework/window_placement.h"

// The rectangle as the placement arithmetic takes it.
PlacementRect ToPlacementRect(const RECT& rect);

// Centres a top-level window: over its owner when the owner is visible and
// not minimised, otherwise in the work area of the nearest monitor; only the
// position changes. Nothing moves when no monitor information can be had.
BOOL CenterWindow(HWND hWnd);
