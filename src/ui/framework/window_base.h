// The window classes of the framework: dialogs from resource templates and
// subclassed controls, each handling its messages through a message map.
#pragma once

#include <windows.h>

#include "ui/framework/message_map.h"

class CMessageMap {
public:
    virtual ~CMessageMap() = default;
    // The message map: TRUE when an entry handled the message (lResult then
    // holds the answer).
    virtual BOOL ProcessWindowMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult) = 0;
};

// A dialog on a resource template. What the map leaves is reflected back to
// child controls where it is their notification, else left to the dialog
// manager. T names its template as `enum { IDD = ... };`.
template <class T>
class CDialogImpl : public CMessageMap {
public:
    HWND m_hWnd = nullptr;

    // Modal: returns the EndDialog result, or -1 when the dialog could not be
    // created.
    INT_PTR DoModal(HWND hWndParent = GetActiveWindow(), LPARAM lInitParam = 0)
    {
        m_lInitParam = lInitParam;
        return DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(T::IDD), hWndParent, StartDialogProc,
                               reinterpret_cast<LPARAM>(this));
    }

    // Modeless: the window, or null.
    HWND Create(HWND hWndParent, LPARAM lInitParam = 0)
    {
        m_lInitParam = lInitParam;
        return CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(T::IDD), hWndParent,
                                  StartDialogProc, reinterpret_cast<LPARAM>(this));
    }

    BOOL EndDialog(INT_PTR nResult) { return ::EndDialog(m_hWnd, nResult); }
    BOOL DestroyWindow() { return ::DestroyWindow(m_hWnd); }
    HWND GetDlgItem(int id) const { return ::GetDlgItem(m_hWnd, id); }

protected:
    LPARAM m_lInitParam = 0;

private:
    // The first message carries the object in lParam of WM_INITDIALOG; from
    // then on the window holds it.
    static INT_PTR CALLBACK StartDialogProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
    {
        if (uMsg == WM_INITDIALOG) {
            auto* self = reinterpret_cast<CDialogImpl*>(lParam);
            self->m_hWnd = hWnd;
            SetWindowLongPtrW(hWnd, DWLP_USER, lParam);
            SetWindowLongPtrW(hWnd, DWLP_DLGPROC, reinterpret_cast<LONG_PTR>(DialogProc));
            return DialogProc(hWnd, uMsg, wParam, self->m_lInitParam);
        }
        return FALSE;
    }

    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
    {
        auto* self = reinterpret_cast<CDialogImpl*>(GetWindowLongPtrW(hWnd, DWLP_USER));
        if (!self) return FALSE;
        LRESULT lResult = 0;
        BOOL handled = self->ProcessWindowMessage(hWnd, uMsg, wParam, lParam, lResult);
        if (!handled) handled = ReflectNotification(hWnd, uMsg, wParam, lParam, lResult);
        if (uMsg == WM_NCDESTROY) self->m_hWnd = nullptr;
        if (!handled) return FALSE;
        // Messages whose answer is the dialog procedure's own result.
        if (IsControlColorMessage(uMsg)) return static_cast<INT_PTR>(lResult);
        switch (uMsg) {
        case WM_INITDIALOG:
        case WM_COMPAREITEM:
        case WM_VKEYTOITEM:
        case WM_CHARTOITEM:
        case WM_QUERYDRAGICON:
            return static_cast<INT_PTR>(lResult);
        default:
            SetWindowLongPtrW(hWnd, DWLP_MSGRESULT, static_cast<LONG_PTR>(lResult));
            return TRUE;
        }
    }
};

// An existing control, subclassed so that its messages pass through the map
// first; what the map leaves goes to the control's own procedure.
class CSubclassedWindow : public CMessageMap {
public:
    HWND m_hWnd = nullptr;

    ~CSubclassedWindow() override { UnsubclassWindow(); }

    BOOL SubclassWindow(HWND hWnd);
    void UnsubclassWindow();

private:
    static LRESULT CALLBACK SubclassProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                         DWORD_PTR data);
};
