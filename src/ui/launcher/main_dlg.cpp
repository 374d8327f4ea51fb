#include "ui/launcher/main_dlg.h"

#include <shellapi.h>

#include "platform/event_log.h"
#include "ui/framework/ax_host.h"
#include "ui/framework/scoped_win.h"
#include "ui/framework/window_placement_win32.h"
#include "ui/launcher/browser_key_hook.h"

namespace {

const wchar_t WINDOW_TITLE[] = L"ZelmicVantorra";

}  // namespace

void CColorKeyLayer::Apply(HWND hWnd)
{
    if (!m_brush.Get()) m_brush.Reset(CreateSolidBrush(m_crKey));
    SetWindowLongW(hWnd, GWL_EXSTYLE, GetWindowLongW(hWnd, GWL_EXSTYLE) | WS_EX_LAYERED);
    // Looked up at run time, as on systems that lack it the launcher still runs.
    using SetLayeredWindowAttributesFn = BOOL(WINAPI*)(HWND, COLORREF, BYTE, DWORD);
    HMODULE user32 = LoadLibraryW(L"User32.DLL");
    if (!user32) return;
    auto set = reinterpret_cast<SetLayeredWindowAttributesFn>(
        reinterpret_cast<void*>(GetProcAddress(user32, "SetLayeredWindowAttributes")));
    if (set) set(hWnd, m_crKey, 0, LWA_COLORKEY);
    FreeLibrary(user32);
}

CMainDlg::CMainDlg(HWND hWndOwner, IGameHandOver* pHandOver, std::wstring gameCodeUrl)
    : m_hWndOwner(hWndOwner), m_pHandOver(pHandOver), m_gameCodeUrl(std::move(gameCodeUrl))
{
    AtlAxWinInit();
}

HWND CMainDlg::Create()
{
    HWND hWnd = CDialogImpl<CMainDlg>::Create(m_hWndOwner);
    if (hWnd) ShowWindow(hWnd, SW_SHOW);
    return hWnd;
}

void CMainDlg::DestroyDialog()
{
    DestroyWindow();
}

LRESULT CMainDlg::OnInitDialog(UINT, WPARAM, LPARAM, BOOL&)
{
    CenterWindow(m_hWnd);
    m_icons.Set(m_hWnd, IDI_QUILLET);
    SetUpBrowser();
    AttachButtons(m_hWnd, {
        {&m_btnClose, IDC_LAUNCHER_CLOSE, 292, 291, 290, 290},
        {&m_btnMinimize, IDC_LAUNCHER_MINIMIZE, 277, 276, 275, 275},
        {&m_btnStart, IDC_LAUNCHER_START, 272, 273, 274, 274},
        {&m_btnLink1010, IDC_LAUNCHER_LINK_1010, 289, 288, 287, 287},
        {&m_btnLink1009, IDC_LAUNCHER_LINK_1009, 286, 285, 284, 284},
        {&m_btnLink1013, IDC_LAUNCHER_LINK_1013, 280, 279, 278, 278},
        {&m_btnLink1012, IDC_LAUNCHER_LINK_1012, 283, 282, 281, 281},
    });
    SetWindowTextW(m_hWnd, WINDOW_TITLE);
    m_colorKey.Apply(m_hWnd);
    // The page has the keys, not the close button that would otherwise be
    // the first tab stop.
    if (m_wndBrowserHost) {
        SetFocus(m_wndBrowserHost);
        return FALSE;
    }
    return TRUE;
}

// The browser fills control 1001 in a host window of its own, the host that
// the keyboard hook and the events address. The host has no scroll style,
// so the game-code page shows no scroll bars.
void CMainDlg::SetUpBrowser()
{
    HWND placeholder = GetDlgItem(IDC_BROWSER_HOST);
    if (!placeholder) return;
    RECT area;
    GetClientRect(placeholder, &area);
    m_wndBrowserHost = CreateHostWindow(placeholder, area, false);
    g_wndLauncherBrowserHost = m_wndBrowserHost;
    if (!m_wndBrowserHost || CreateBrowserControl(m_wndBrowserHost) != S_OK) return;
    CComPtr<IWebBrowser2> browser(QueryHostBrowser(m_wndBrowserHost));
    if (!browser) return;

    // The events are connected first, so that the first navigation is seen.
    m_pListener = std::make_unique<CWebBrwoser2EventListener>(m_hWndOwner, m_pHandOver);
    ConnectBrowserEvents(browser.Get(), m_pListener.get());
    NavigateSilently(browser.Get(), CVariant(m_gameCodeUrl.c_str()).Get());
}

LRESULT CMainDlg::OnNcDestroy(UINT, WPARAM, LPARAM, BOOL& bHandled)
{
    m_icons.Destroy();
    bHandled = FALSE;
    return 0;
}

LRESULT CMainDlg::OnMinimize(WORD, WORD, HWND, BOOL&)
{
    PostMessageW(m_hWndOwner, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    return 0;
}

LRESULT CMainDlg::OnClose(WORD, WORD, HWND, BOOL&)
{
    if (g_hKeyboardHook) UnhookWindowsHookEx(g_hKeyboardHook);
    LogEvent("exit: the launcher was closed");
    TerminateProcess(GetCurrentProcess(), 0);
    return 0;
}

LRESULT CMainDlg::OnStart(WORD, WORD, HWND, BOOL&)
{
    m_pHandOver->ChooseGameWindow();
    PostMessageW(m_hWndOwner, WM_DESTROY, 0, 0);
    return 0;
}

LRESULT CMainDlg::OnLink(WORD, WORD, HWND, BOOL&)
{
    ShellExecuteW(nullptr, L"open", L"IEXPLORE.exe", m_gameCodeUrl.c_str(), nullptr, SW_SHOW);
    return 0;
}

LRESULT CMainDlg::OnCtlColorDialog(UINT, WPARAM, LPARAM, BOOL&)
{
    return reinterpret_cast<LRESULT>(m_colorKey.Brush());
}
