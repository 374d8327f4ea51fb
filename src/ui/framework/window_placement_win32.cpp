#include "ui/framework/window_placement_win32.h"

PlacementRect ToPlacementRect(const RECT& rect)
{
    PlacementRect placement;
    placement.left = rect.left;
    placement.top = rect.top;
    placement.right = rect.right;
    placement.bottom = rect.bottom;
    return placement;
}

BOOL CenterWindow(HWND hWnd)
{
    HWND owner = GetWindow(hWnd, GW_OWNER);
    bool useOwner = owner && IsWindowVisible(owner) && !IsIconic(owner);
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof(monitor);
    if (!GetMonitorInfoW(MonitorFromWindow(useOwner ? owner : hWnd, MONITOR_DEFAULTTONEAREST), &monitor)) {
        return FALSE;
    }
    RECT reference = monitor.rcWork;
    if (useOwner) GetWindowRect(owner, &reference);
    RECT window;
    GetWindowRect(hWnd, &window);
    int left = 0;
    int top = 0;
    CenterWithin(ToPlacementRect(reference), ToPlacementRect(monitor.rcWork), window.right - window.left,
                 window.bottom - window.top, &left, &top);
    return SetWindowPos(hWnd, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}
