// The launcher's thread keyboard hook: it hands Tab and Enter to the page in
// the launcher's browser and never swallows a key.
#pragma once

#include <windows.h>

// The hook's handle (null until installed) and the launcher's browser host
// (null until its browser exists). Used on the main thread only.
extern HHOOK g_hKeyboardHook;
extern HWND g_wndLauncherBrowserHost;

LRESULT CALLBACK BrowserKeyHook(int code, WPARAM wParam, LPARAM lParam);
