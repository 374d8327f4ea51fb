#include "ui/framework/window_icons.h"

namespace {

HICON LoadIconOfSize(int iconId, int cxMetric, int cyMetric)
{
    return static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(iconId), IMAGE_ICON,
                                         GetSystemMetrics(cxMetric), GetSystemMetrics(cyMetric), LR_DEFAULTCOLOR));
}

}  // namespace

HICON CWindowIcons::Set(HWND hWnd, int iconId)
{
    m_big.Reset(LoadIconOfSize(iconId, SM_CXICON, SM_CYICON));
    m_small.Reset(LoadIconOfSize(iconId, SM_CXSMICON, SM_CYSMICON));
    SendMessageW(hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_big.Get()));
    SendMessageW(hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_small.Get()));
    return m_small.Get();
}

void CWindowIcons::Destroy()
{
    m_big.Reset();
    m_small.Reset();
}
