// The program's icon on its windows.
#pragma once

#include <windows.h>

#include "ui/framework/scoped_win.h"

// The big and the small icon of one window, loaded from an icon resource of
// the program. They belong to this object: Destroy (or the destructor)
// destroys them, which their window does once it is gone (WM_NCDESTROY for
// the launcher, whose posted WM_DESTROY only ends its modal loop).
class CWindowIcons {
public:
    // Loads both sizes and sets them on hWnd; returns the small one, which
    // stays owned here.
    HICON Set(HWND hWnd, int iconId);
    void Destroy();

private:
    CIcon m_big;
    CIcon m_small;
};
