// Message maps: each window class lists its messages in one table at its
// top, first match wins. A handler gets bHandled = TRUE; setting it to FALSE
// passes the message on as if no entry had matched.
//
//   BEGIN_MSG_MAP(CGameDlg)
//       MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
//       COMMAND_ID_HANDLER(ID_MAIN_EXIT, OnExit)
//       REFLECT_NOTIFICATIONS()
//   END_MSG_MAP()
#pragma once

#include <windows.h>

// The reflected-message range: a notification sent back to the control that
// caused it carries its message number raised by this much.
const UINT OCM_BASE = WM_USER + 0x1C00;
const UINT OCM_DRAWITEM = OCM_BASE + WM_DRAWITEM;
const UINT OCM_COMMAND = OCM_BASE + WM_COMMAND;

// WM_CTLCOLORBTN ... WM_CTLCOLORSTATIC: a control asks its parent for the
// brush and colours to paint it with.
bool IsControlColorMessage(UINT uMsg);

// Sends a child control's notification back to that control with the
// message number raised by OCM_BASE. True (with the control's answer) when
// the message is such a notification and its control was found.
BOOL ReflectNotification(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult);

#define BEGIN_MSG_MAP(theClass)                                                                            \
public:                                                                                                    \
    BOOL ProcessWindowMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult) override \
    {                                                                                                      \
        BOOL bHandled = TRUE;                                                                              \
        (void)hWnd;                                                                                        \
        (void)bHandled;

#define MESSAGE_HANDLER(msg, func)                          \
        if (uMsg == (msg)) {                                \
            bHandled = TRUE;                                \
            lResult = func(uMsg, wParam, lParam, bHandled); \
            if (bHandled) return TRUE;                      \
        }

#define COMMAND_ID_HANDLER(id, func)                                                        \
        if (uMsg == WM_COMMAND && LOWORD(wParam) == (id)) {                                 \
            bHandled = TRUE;                                                                \
            lResult = func(HIWORD(wParam), LOWORD(wParam), reinterpret_cast<HWND>(lParam), bHandled); \
            if (bHandled) return TRUE;                                                      \
        }

#define COMMAND_RANGE_CODE_HANDLER(idFirst, idLast, code, func)                             \
        if (uMsg == WM_COMMAND && HIWORD(wParam) == (code) && LOWORD(wParam) >= (idFirst) &&  \
            LOWORD(wParam) <= (idLast)) {                                                   \
            bHandled = TRUE;                                                                \
            lResult = func(HIWORD(wParam), LOWORD(wParam), reinterpret_cast<HWND>(lParam), bHandled); \
            if (bHandled) return TRUE;                                                      \
        }

#define REFLECT_NOTIFICATIONS()                                                    \
        if (ReflectNotification(hWnd, uMsg, wParam, lParam, lResult)) return TRUE;

#define END_MSG_MAP() \
        return FALSE; \
    }
