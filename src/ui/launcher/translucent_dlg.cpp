#include "ui/launcher/translucent_dlg.h"

#include "ui/framework/ax_host.h"
#include "ui/launcher/browser_key_hook.h"
#include "ui/launcher/main_dlg.h"

CTranslucentDlg::CTranslucentDlg(IGameHandOver* pHandOver, std::wstring gameCodeUrl)
    : m_pHandOver(pHandOver), m_gameCodeUrl(std::move(gameCodeUrl))
{
}

LRESULT CTranslucentDlg::OnInitDialog(UINT, WPARAM, LPARAM, BOOL&)
{
    RECT client;
    GetClientRect(m_hWnd, &client);
    m_frame.Place(new CMainDlg(m_hWnd, m_pHandOver, m_gameCodeUrl), m_hWnd, client.left, client.top);
    m_frame.ApplyLayer(m_hWnd);
    m_icons.Set(m_hWnd, IDI_QUILLET);
    SetWindowTextW(m_hWnd, L"ZelmicVantorra");
    if (!g_hKeyboardHook) {
        g_hKeyboardHook = SetWindowsHookExW(WH_KEYBOARD, BrowserKeyHook, nullptr, GetCurrentThreadId());
    }
    return TRUE;
}

LRESULT CTranslucentDlg::OnLButtonDown(UINT, WPARAM, LPARAM lParam, BOOL&)
{
    PostMessageW(m_hWnd, WM_NCLBUTTONDOWN, HTCAPTION, lParam);
    return 0;
}

LRESULT CTranslucentDlg::OnMove(UINT, WPARAM, LPARAM lParam, BOOL&)
{
    m_frame.MoveDialog(static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam)));
    return 0;
}

LRESULT CTranslucentDlg::OnSize(UINT, WPARAM, LPARAM lParam, BOOL&)
{
    m_frame.SizeDialog(static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam)));
    return 0;
}

LRESULT CTranslucentDlg::OnDestroy(UINT, WPARAM, LPARAM, BOOL&)
{
    m_pHandOver->ChooseGameWindow();
    if (g_hKeyboardHook) UnhookWindowsHookEx(g_hKeyboardHook);
    EndDialog(1);
    return 0;
}

LRESULT CTranslucentDlg::OnNcDestroy(UINT, WPARAM, LPARAM, BOOL& bHandled)
{
    m_icons.Destroy();
    bHandled = FALSE;
    return 0;
}
