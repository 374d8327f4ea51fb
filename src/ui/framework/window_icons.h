// The program's icon on its windows.
#pragma once

#include <windows.h>

// The big and the small icon of one window, loaded from an icon resource of
// the program. They belong to this object: Destroy (or the destructor)
// destroys them, which their window's WM_DESTROY does.
class CWindowIcons {
public:
    CWindowIcons() = default;
    ~CWindowIcons() { Destroy(); }
    CWindowIcons(const CWindowIcons&) = delete;
    CWindowIcons& operator=(const CWindowIcons&) = delete;

    // Loads both sizes and sets them on hWnd; returns the small one, which
    // stays owned here.
    HICON Set(HWND hWnd, int iconId);
    void Destroy();

private:
    HICON m_hBig = nullptr;
    HICON m_hSmall = nullptr;
};
