#include "ui/game/game_dlg.h"

#include <cwchar>

#include "ui/framework/ax_host.h"
#include "ui/framework/scoped_win.h"
#include "ui/framework/window_placement_win32.h"
#include "ui/game/cache_clearing.h"

namespace {

const int TITLE_BAND_HEIGHT = 29;
const int BROWSER_MARGIN = 3;
const int TITLE_TEXT_X = 30;
const int TITLE_TEXT_Y = 5;
const int TITLE_PICTURE = 297;
const wchar_t WINDOW_TITLE[] = L"ZelmicVantorra";

LPCWSTR CursorName(GameCursor cursor)
{
    switch (cursor) {
    case GameCursor::SIZE_NS: return IDC_SIZENS;
    case GameCursor::SIZE_WE: return IDC_SIZEWE;
    case GameCursor::SIZE_NWSE: return IDC_SIZENWSE;
    case GameCursor::SIZE_NESW: return IDC_SIZENESW;
    default: return IDC_ARROW;
    }
}

}  // namespace

void CopyTitle(wchar_t* buffer, size_t nChars, const wchar_t* text)
{
    size_t length = text ? std::wcslen(text) : 0;
    if (length > nChars - 1) {
        length = nChars - 1;
        // A high surrogate left without its partner would be half a character.
        if (text[length - 1] >= 0xD800 && text[length - 1] <= 0xDBFF) --length;
    }
    if (length) std::wmemcpy(buffer, text, length);
    buffer[length] = L'\0';
}

CGameDlg::CGameDlg(const VARIANT* pGameUrl) : m_pGameUrl(pGameUrl)
{
    AtlAxWinInit();
}

void CGameDlg::SetTitleText(const wchar_t* text)
{
    CopyTitle(m_szTitle, TITLE_CHARS, text);
    InvalidateRect(m_hWnd, nullptr, TRUE);
    UpdateWindow(m_hWnd);
}

void CGameDlg::ConfirmExit()
{
    if (MessageBoxW(m_hWnd, L"正在游戏中，是否确认退出游戏？", L"提示", MB_OKCANCEL) != IDOK) return;
    DestroyWindow();
    PostQuitMessage(1);
}

void CGameDlg::ToggleVisible()
{
    ShowWindow(m_hWnd, IsWindowVisible(m_hWnd) ? SW_HIDE : SW_SHOW);
    FocusBrowser();
}

void CGameDlg::RefreshPage()
{
    if (m_pBrowser) m_pBrowser->Refresh();
}

void CGameDlg::ToggleSize()
{
    if (m_nSizeState == SIZE_TYPE_MAXIMIZED) {
        MoveWindow(m_hWnd, 0, 0, m_rcInitial.right - m_rcInitial.left, m_rcInitial.bottom - m_rcInitial.top, TRUE);
        CenterWindow(m_hWnd);
        m_nSizeState = SIZE_TYPE_RESTORED;
    } else {
        MoveWindow(m_hWnd, 0, 0, m_rcWork.right, m_rcWork.bottom, TRUE);
        m_nSizeState = SIZE_TYPE_MAXIMIZED;
    }
    // The resize above reported a restored size; the buttons follow the
    // state this toggle left, so the one shown always offers the other size.
    UpdateSizeButtons();
}

void CGameDlg::ShowMainMenu()
{
    ShowMenu(IDR_MENU_MAIN);
}

void CGameDlg::ShowTrayMenu()
{
    ShowMenu(IDR_MENU_TRAY);
}

void CGameDlg::ShowMenu(int menuId)
{
    HMENU menu = LoadMenuW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(menuId));
    if (!menu) return;
    HMENU popup = GetSubMenu(menu, 0);
    POINT cursor = {};
    GetCursorPos(&cursor);
    SetMenuDefaultItem(popup, 0, TRUE);
    SetForegroundWindow(m_nid.hWnd);
    // A point on no monitor is moved into the nearest one's work area.
    if (!MonitorFromPoint(cursor, MONITOR_DEFAULTTONULL)) {
        MONITORINFO monitor = {};
        monitor.cbSize = sizeof(monitor);
        if (GetMonitorInfoW(MonitorFromPoint(cursor, MONITOR_DEFAULTTONEAREST), &monitor)) {
            if (cursor.x < monitor.rcWork.left) cursor.x = monitor.rcWork.left;
            if (cursor.x >= monitor.rcWork.right) cursor.x = monitor.rcWork.right - 1;
        }
    }
    TrackPopupMenu(popup, TPM_RIGHTBUTTON, cursor.x, cursor.y, 0, GetActiveWindow(), nullptr);
    // The documented pairing of SetForegroundWindow before a tray menu: a
    // message to the window after it, or the menu may stay open when the
    // player clicks elsewhere, or close at once the next time.
    PostMessageW(m_nid.hWnd, WM_NULL, 0, 0);
    DestroyMenu(menu);
}

BOOL CGameDlg::PreTranslateMessage(MSG* pMsg)
{
    return IsDialogMessageW(m_hWnd, pMsg);
}

BOOL CGameDlg::OnIdle()
{
    return FALSE;
}

void CGameDlg::AddTrayIcon(HICON hIcon)
{
    // The 952-byte form of the record: everything before the balloon icon.
    static_assert(sizeof(void*) != 4 || NOTIFYICONDATAW_V3_SIZE == 952, "952-byte NOTIFYICONDATAW");
    m_nid = NOTIFYICONDATAW();
    m_nid.cbSize = NOTIFYICONDATAW_V3_SIZE;
    m_nid.hWnd = m_hWnd;
    m_nid.uID = TRAY_ICON_ID;
    m_nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    m_nid.uCallbackMessage = WM_TRAYICON;
    m_nid.hIcon = hIcon;
    std::wcscpy(m_nid.szTip, WINDOW_TITLE);
    Shell_NotifyIconW(NIM_ADD, &m_nid);
}

// The host creates the WebBrowser control directly; its scroll permission
// lets pages show scroll bars until the event sink turns them off.
bool CGameDlg::CreateBrowserHost()
{
    RECT client;
    GetClientRect(m_hWnd, &client);
    RECT area = {client.left + BROWSER_MARGIN, client.top + TITLE_BAND_HEIGHT, client.right - BROWSER_MARGIN,
                 client.bottom - BROWSER_MARGIN};
    m_wndBrowserHost = CreateHostWindow(m_hWnd, area, true);
    if (!m_wndBrowserHost || CreateBrowserControl(m_wndBrowserHost) != S_OK) return false;
    // The host keeps the control alive while the window exists; the window
    // holds it without a reference of its own.
    CComPtr<IWebBrowser2> browser(QueryHostBrowser(m_wndBrowserHost));
    if (!browser) return false;
    m_pBrowser = browser.Get();

    m_eventSink.SetWindow(this);
    ConnectBrowserEvents(m_pBrowser, &m_eventSink);
    CVariant empty;
    NavigateSilently(m_pBrowser, m_pGameUrl ? *m_pGameUrl : empty.Get());
    ToggleSize();
    return true;
}

LRESULT CGameDlg::OnInitDialog(UINT, WPARAM, LPARAM, BOOL&)
{
    m_szTitle[0] = L'\0';
    RECT client;
    GetClientRect(m_hWnd, &client);
    m_nLastWidth = client.right;
    m_nLastHeight = client.bottom;
    m_rcInitial = client;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &m_rcWork, 0);
    SendMessageW(m_hWnd, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), TRUE);
    CenterWindow(m_hWnd);

    AddTrayIcon(m_icons.Set(m_hWnd, IDI_QUILLET));

    if (CMessageLoop* loop = g_appModule.GetMessageLoop()) {
        loop->AddMessageFilter(this);
        loop->AddIdleHandler(this);
    }

    AttachButtons(m_hWnd, {
        {&m_btnClose, IDC_GAME_CLOSE, 295, 294, 293, 293},
        {&m_btnMinimize, IDC_GAME_MINIMIZE, 314, 313, 312, 312},
        {&m_btnRestore, IDC_GAME_RESTORE, 308, 307, 306, 306},
        {&m_btnMaximize, IDC_GAME_MAXIMIZE, 305, 304, 303, 303},
        {&m_btnHide, IDC_GAME_HIDE, 300, 299, 298, 298},
        {&m_btnLogo, IDC_GAME_LOGO, 301, 301, 301, 301},
        {&m_btnMenu, IDC_GAME_MENU, 311, 310, 309, 309},
    });
    ShowWindow(m_btnMaximize.m_hWnd, SW_HIDE);
    m_pLayoutRules = GAME_LAYOUT_RULES;
    m_nLayoutRules = sizeof(GAME_LAYOUT_RULES) / sizeof(GAME_LAYOUT_RULES[0]);

    RegisterHotKey(m_hWnd, HOTKEY_TOGGLE, 0, VK_F9);
    SetWindowTextW(m_hWnd, WINDOW_TITLE);
    m_imgTitle.Load(MAKEINTRESOURCEW(TITLE_PICTURE));

    if (!CreateBrowserHost()) {
        MessageBoxW(m_hWnd, L"无法连接服务器", L"提示", MB_OK);
        DestroyWindow();
        PostQuitMessage(1);
        return FALSE;
    }
    // The page has the keys from the start, not the first picture button.
    SetFocus(m_wndBrowserHost);
    return FALSE;
}

LRESULT CGameDlg::OnDestroy(UINT, WPARAM, LPARAM, BOOL&)
{
    UnregisterHotKey(m_hWnd, HOTKEY_REFRESH);
    UnregisterHotKey(m_hWnd, HOTKEY_TOGGLE);
    Shell_NotifyIconW(NIM_DELETE, &m_nid);
    m_icons.Destroy();
    // The host and its control die with this window's children, right
    // after this message: nothing may reach them through these afterwards.
    if (m_pBrowser) m_pBrowser->Stop();
    m_pBrowser = nullptr;
    m_wndBrowserHost = nullptr;
    if (CMessageLoop* loop = g_appModule.GetMessageLoop()) {
        loop->RemoveMessageFilter(this);
        loop->RemoveIdleHandler(this);
    }
    return 0;
}

LRESULT CGameDlg::OnSize(UINT, WPARAM wParam, LPARAM lParam, BOOL&)
{
    int sizeType = static_cast<int>(wParam);
    m_nSizeState = sizeType;
    int cx = LOWORD(lParam);
    int cy = HIWORD(lParam);
    LayoutChange change = ComputeLayoutChange(sizeType, cx, cy, m_nLastWidth, m_nLastHeight,
                                              GetSystemMetrics(SM_CYFULLSCREEN));
    for (size_t i = 0; i < m_nLayoutRules; ++i) {
        const LayoutRule& rule = m_pLayoutRules[i];
        HWND child = GetDlgItem(rule.id);
        if (!child) continue;
        RECT rect;
        GetWindowRect(child, &rect);
        MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&rect), 2);
        ChildBox box = {rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top};
        if (ApplyLayoutRule(rule, change.dx, change.dy, &box)) {
            MoveWindow(child, box.left, box.top, box.width, box.height, TRUE);
        }
    }
    if (change.bUpdateBase) {
        m_nLastWidth = cx;
        m_nLastHeight = change.clampedHeight;
        CComPtr<IWebBrowser2> browser(QueryHostBrowser(m_wndBrowserHost));
        m_pBrowser = browser.Get();
        if (browser) {
            browser->put_Width(cx - 2 * BROWSER_MARGIN);
            browser->put_Height(change.clampedHeight - TITLE_BAND_HEIGHT - BROWSER_MARGIN);
        }
    }
    UpdateSizeButtons();
    return 0;
}

LRESULT CGameDlg::OnSetFocus(UINT, WPARAM, LPARAM, BOOL& bHandled)
{
    if (!m_wndBrowserHost || !IsWindow(m_wndBrowserHost)) {
        bHandled = FALSE;
        return 0;
    }
    SetFocus(m_wndBrowserHost);
    return 0;
}

void CGameDlg::UpdateSizeButtons()
{
    bool maximised = m_nSizeState == SIZE_TYPE_MAXIMIZED;
    HWND shown = maximised ? m_btnRestore.m_hWnd : m_btnMaximize.m_hWnd;
    HWND hidden = maximised ? m_btnMaximize.m_hWnd : m_btnRestore.m_hWnd;
    if (shown && !IsWindowVisible(shown)) {
        ShowWindow(shown, SW_SHOWNORMAL);
        ShowWindow(hidden, SW_HIDE);
    }
}

LRESULT CGameDlg::OnEraseBackground(UINT, WPARAM wParam, LPARAM, BOOL&)
{
    HDC dc = reinterpret_cast<HDC>(wParam);
    RECT client;
    GetClientRect(m_hWnd, &client);
    FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    RECT band = {0, 0, client.right, m_imgTitle.GetHeight()};
    StretchBitmap(dc, m_imgTitle.GetBitmap(), band);
    int mode = SetBkMode(dc, TRANSPARENT);
    COLORREF color = SetTextColor(dc, RGB(255, 255, 0));
    TextOutW(dc, TITLE_TEXT_X, TITLE_TEXT_Y, m_szTitle, static_cast<int>(std::wcslen(m_szTitle)));
    SetBkMode(dc, mode);
    SetTextColor(dc, color);
    return 1;
}

LRESULT CGameDlg::OnSetCursor(UINT, WPARAM, LPARAM lParam, BOOL&)
{
    SetCursor(LoadCursorW(nullptr, CursorName(CursorForHitTest(LOWORD(lParam)))));
    return 0;
}

LRESULT CGameDlg::OnNcHitTest(UINT, WPARAM, LPARAM lParam, BOOL&)
{
    RECT window;
    GetWindowRect(m_hWnd, &window);
    int x = static_cast<short>(LOWORD(lParam));
    int y = static_cast<short>(HIWORD(lParam));
    return GameHitTest(x, y, ToPlacementRect(window));
}

LRESULT CGameDlg::OnNcLButtonDown(UINT, WPARAM wParam, LPARAM lParam, BOOL& bHandled)
{
    int code = static_cast<int>(wParam);
    if (code == HTCAPTION) {
        bHandled = FALSE;
        return 0;
    }
    if (int command = SizingCommandForHitTest(code)) SendMessageW(m_hWnd, WM_SYSCOMMAND, command, lParam);
    return 0;
}

LRESULT CGameDlg::OnLButtonDown(UINT, WPARAM, LPARAM lParam, BOOL&)
{
    if (PressStartsDrag(HIWORD(lParam))) PostMessageW(m_hWnd, WM_NCLBUTTONDOWN, HTCAPTION, lParam);
    return 0;
}

LRESULT CGameDlg::OnLButtonDblClk(UINT, WPARAM, LPARAM lParam, BOOL&)
{
    if (DoubleClickTogglesSize(HIWORD(lParam))) ToggleSize();
    return 0;
}

LRESULT CGameDlg::OnButton(WORD, WORD id, HWND, BOOL& bHandled)
{
    switch (id) {
    case IDC_GAME_CLOSE: ConfirmExit(); break;
    case IDC_GAME_RESTORE:
    case IDC_GAME_MAXIMIZE: ToggleSize(); break;
    case IDC_GAME_MINIMIZE: PostMessageW(m_hWnd, WM_SYSCOMMAND, SC_MINIMIZE, 0); break;
    case IDC_GAME_HIDE: ShowWindow(m_hWnd, SW_HIDE); break;
    case IDC_GAME_MENU:
    case IDC_GAME_LOGO: ShowMainMenu(); break;
    default: bHandled = FALSE; return 0;
    }
    FocusBrowser();
    return 0;
}

void CGameDlg::FocusBrowser()
{
    if (m_wndBrowserHost && IsWindow(m_wndBrowserHost) && IsWindowVisible(m_hWnd)) SetFocus(m_wndBrowserHost);
}

LRESULT CGameDlg::OnMenuCommand(WORD, WORD id, HWND, BOOL&)
{
    switch (id) {
    case ID_MAIN_REFRESH:
    case ID_TRAY_REFRESH: RefreshPage(); break;
    case ID_MAIN_TOGGLE_VISIBLE:
    case ID_TRAY_TOGGLE_VISIBLE: ToggleVisible(); break;
    case ID_MAIN_CLEAR_CACHE:
    case ID_TRAY_CLEAR_CACHE: ClearCaches(m_hWnd); break;
    case ID_MAIN_RESET_WINDOW: ToggleSize(); break;
    case ID_MAIN_EXIT:
    case ID_TRAY_EXIT: ConfirmExit(); break;
    }
    return 0;
}

LRESULT CGameDlg::OnHotKey(UINT, WPARAM wParam, LPARAM, BOOL& bHandled)
{
    if (wParam == HOTKEY_TOGGLE) ToggleVisible();
    if (wParam == HOTKEY_REFRESH && GetForegroundWindow() == m_hWnd) RefreshPage();
    bHandled = FALSE;
    return 0;
}

const UINT WM_TASKBARCREATED = RegisterWindowMessageW(L"TaskbarCreated");

LRESULT CGameDlg::OnTaskbarCreated(UINT, WPARAM, LPARAM, BOOL&)
{
    if (m_nid.hWnd) Shell_NotifyIconW(NIM_ADD, &m_nid);
    return 0;
}

LRESULT CGameDlg::OnTrayIcon(UINT, WPARAM, LPARAM lParam, BOOL&)
{
    if (lParam == WM_LBUTTONDBLCLK) ShowWindow(m_hWnd, SW_SHOW);
    if (lParam == WM_RBUTTONDOWN) ShowTrayMenu();
    return 0;
}
