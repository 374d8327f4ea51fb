#include "ui/framework/window_base.h"

#include <commctrl.h>

BOOL CSubclassedWindow::SubclassWindow(HWND hWnd)
{
    if (!hWnd || m_hWnd) return FALSE;
    if (!SetWindowSubclass(hWnd, SubclassProc, reinterpret_cast<UINT_PTR>(this), 0)) return FALSE;
    m_hWnd = hWnd;
    return TRUE;
}

void CSubclassedWindow::UnsubclassWindow()
{
    if (!m_hWnd) return;
    RemoveWindowSubclass(m_hWnd, SubclassProc, reinterpret_cast<UINT_PTR>(this));
    m_hWnd = nullptr;
}

LRESULT CALLBACK CSubclassedWindow::SubclassProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                                 DWORD_PTR)
{
    auto* self = reinterpret_cast<CSubclassedWindow*>(id);
    LRESULT lResult = 0;
    if (self->ProcessWindowMessage(hWnd, uMsg, wParam, lParam, lResult)) return lResult;
    if (uMsg == WM_NCDESTROY) {
        RemoveWindowSubclass(hWnd, SubclassProc, id);
        self->m_hWnd = nullptr;
    }
    return DefSubclassProc(hWnd, uMsg, wParam, lParam);
}
