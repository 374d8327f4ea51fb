#include "ui/framework/message_map.h"

namespace {

// The control that a notification comes from; null when it is none.
HWND NotifyingControl(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    switch (uMsg) {
    case WM_COMMAND:
        return reinterpret_cast<HWND>(lParam);
    case WM_NOTIFY:
        return lParam ? reinterpret_cast<NMHDR*>(lParam)->hwndFrom : nullptr;
    case WM_PARENTNOTIFY:
        return LOWORD(wParam) == WM_CREATE || LOWORD(wParam) == WM_DESTROY ? reinterpret_cast<HWND>(lParam)
                                                                             : nullptr;
    case WM_DRAWITEM: {
        const DRAWITEMSTRUCT* item = reinterpret_cast<DRAWITEMSTRUCT*>(lParam);
        return item && item->CtlType != ODT_MENU ? item->hwndItem : nullptr;
    }
    case WM_MEASUREITEM: {
        const MEASUREITEMSTRUCT* item = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
        return item && item->CtlType != ODT_MENU ? GetDlgItem(hWnd, static_cast<int>(item->CtlID)) : nullptr;
    }
    case WM_COMPAREITEM:
        return lParam ? reinterpret_cast<COMPAREITEMSTRUCT*>(lParam)->hwndItem : nullptr;
    case WM_DELETEITEM:
        return lParam ? reinterpret_cast<DELETEITEMSTRUCT*>(lParam)->hwndItem : nullptr;
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_HSCROLL:
    case WM_VSCROLL:
        return reinterpret_cast<HWND>(lParam);
    default:
        return IsControlColorMessage(uMsg) ? reinterpret_cast<HWND>(lParam) : nullptr;
    }
}

}  // namespace

bool IsControlColorMessage(UINT uMsg)
{
    return uMsg >= WM_CTLCOLORMSGBOX && uMsg <= WM_CTLCOLORSTATIC;
}

BOOL ReflectNotification(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult)
{
    HWND control = NotifyingControl(hWnd, uMsg, wParam, lParam);
    if (!control || control == hWnd || !IsWindow(control)) return FALSE;
    lResult = SendMessageW(control, OCM_BASE + uMsg, wParam, lParam);
    return TRUE;
}
