#include "ui/framework/window_icons.h"

HICON SetWindowIcons(HWND hWnd, int iconId)
{
    HICON small = nullptr;
    const struct {
        WPARAM which;
        int cx;
        int cy;
    } SIZES[] = {{ICON_BIG, SM_CXICON, SM_CYICON}, {ICON_SMALL, SM_CXSMICON, SM_CYSMICON}};
    for (const auto& size : SIZES) {
        HICON icon = static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(iconId), IMAGE_ICON,
                                                   GetSystemMetrics(size.cx), GetSystemMetrics(size.cy),
                                                   LR_DEFAULTCOLOR));
        SendMessageW(hWnd, WM_SETICON, size.which, reinterpret_cast<LPARAM>(icon));
        if (size.which == ICON_SMALL) small = icon;
    }
    return small;
}
