// The program's icon on its windows.
#pragma once

#include <windows.h>

// Sets a window's big and small icons from an icon resource of the program;
// returns the small one.
HICON SetWindowIcons(HWND hWnd, int iconId);
