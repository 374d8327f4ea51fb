// Centres a top-level window: over its owner when the owner is visible and
// not minimised, otherwise in the work area of the nearest monitor; only the
// position changes. Nothing moves when no monitor information can be had.
#pragma once

#include <windows.h>

BOOL CenterWindow(HWND hWnd);
