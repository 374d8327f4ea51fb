// The game phase's message loop.
#pragma once

#include <windows.h>

// Runs until WM_QUIT (or a failed GetMessage). Keyboard and mouse messages
// for hWndGame or a descendant are first sent to hWndBrowserHost as
// WM_FORWARDMSG; a nonzero answer consumes them. Both handles are read anew
// for every message, since the host appears while the game window
// initialises and goes when it is destroyed.
void RunGameMessageLoop(const HWND& hWndGame, const HWND& hWndBrowserHost);
