#include "ui/launcher/main_dlg.h"

#include <shellapi.h>

#include "ui/framework/ax_host.h"
#include "ui/framework/center_window.h"
#include "ui/game/browser_key_hook.h"

namespace {

const wchar_t WINDOW_TITLE[] = L"ZelmicVantorra";

}  // namespace

CColorKeyLayer::~CColorKeyLayer()
{
    if (m_hBrush) DeleteObject(m_hBrush);
}

void CColorKeyLayer::Apply(HWND hWnd)
{
    if (!m_hBrush) m_hBrush = CreateSolidBrush(m_crKey);
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
    m_btnClose.Attach(GetDlgItem(IDC_LAUNCHER_CLOSE), 292, 291, 290, 290);
    m_btnMinimize.Attach(GetDlgItem(IDC_LAUNCHER_MINIMIZE), 277, 276, 275, 275);
    m_btnStart.Attach(GetDlgItem(IDC_LAUNCHER_START), 272, 273, 274, 274);
    m_btnLink1010.Attach(GetDlgItem(IDC_LAUNCHER_LINK_1010), 289, 288, 287, 287);
    m_btnLink1009.Attach(GetDlgItem(IDC_LAUNCHER_LINK_1009), 286, 285, 284, 284);
    m_btnLink1013.Attach(GetDlgItem(IDC_LAUNCHER_LINK_1013), 280, 279, 278, 278);
    m_btnLink1012.Attach(GetDlgItem(IDC_LAUNCHER_LINK_1012), 283, 282, 281, 281);
    SetWindowTextW(m_hWnd, WINDOW_TITLE);
    m_pBrowser = nullptr;
    m_colorKey.Apply(m_hWnd);
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
    m_wndBrowserHost = CreateWindowExW(0, L"AtlAxWin90", nullptr, WS_CHILD | WS_VISIBLE, 0, 0,
                                       area.right, area.bottom, placeholder, nullptr, nullptr, nullptr);
    g_wndLauncherBrowserHost = m_wndBrowserHost;
    if (!m_wndBrowserHost || CreateBrowserControl(m_wndBrowserHost) != S_OK) return;
    m_pBrowser = QueryHostBrowser(m_wndBrowserHost);
    if (!m_pBrowser) return;

    // The events are connected first, so that the first navigation is seen.
    m_pListener = new CWebBrwoser2EventListener(m_hWndOwner, m_pHandOver);
    ConnectBrowserEvents(m_pBrowser, m_pListener, &m_pConnPointContainer, &m_pConnPoint, &m_dwCookie);
    VARIANT url;
    VariantInit(&url);
    url.vt = VT_BSTR;
    url.bstrVal = SysAllocString(m_gameCodeUrl.c_str());
    m_pBrowser->Navigate2(&url, nullptr, nullptr, nullptr, nullptr);
    m_pBrowser->put_Silent(VARIANT_TRUE);
    VariantClear(&url);
    m_pBrowser->Release();
    m_pBrowser = nullptr;
}

LRESULT CMainDlg::OnDestroy(UINT, WPARAM, LPARAM, BOOL& bHandled)
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
    return reinterpret_cast<LRESULT>(m_colorKey.m_hBrush);
}
