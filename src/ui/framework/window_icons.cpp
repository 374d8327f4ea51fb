#include "ui/framework/window_icons.h"

#include <initializer_list>

namespace {

HICON LoadIconOfSize(int iconId, int cxMetric, int cyMetric)
{
    return static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(iconId), IMAGE_ICON,
                                         GetSystemMetrics(cxMetric), GetSystemMetrics(cyMetric), LR_DEFAULTCOLOR));
}

}  // namespace

HICON CWindowIcons::Set(HWND hWnd, int iconId)
{
    Destroy();
    m_hBig = LoadIconOfSize(iconId, SM_CXICON, SM_CYICON);
    m_hSmall = LoadIconOfSize(iconId, SM_CXSMICON, SM_CYSMICON);
    SendMessageW(hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hBig));
    SendMessageW(hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hSmall));
    return m_hSmall;
}

void CWindowIcons::Destroy()
{
    for (HICON* icon : {&m_hBig, &m_hSmall}) {
        if (*icon) DestroyIcon(*icon);
        *icon = nullptr;
    }
}
