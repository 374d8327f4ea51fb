// The game window with the real dialog manager and the real WebBrowser
// control under Wine; no test depends on page content.
#include "ui/game/game_dlg.h"

#include <windows.h>
#include <exdispid.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "ui/game/invoke_event.h"
#include "win32_test_support.h"

CAppModule g_appModule;

namespace {

RECT WindowRect(HWND hWnd)
{
    RECT rect;
    GetWindowRect(hWnd, &rect);
    return rect;
}

// The position of a child in its parent's client coordinates.
POINT ChildPosition(HWND parent, HWND child)
{
    RECT rect = WindowRect(child);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
    return POINT{rect.left, rect.top};
}

POINT CentreOf(HWND hWnd)
{
    RECT rect = WindowRect(hWnd);
    return POINT{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

// The real mouse: SetCursorPos moves the cursor and queues the move as the
// hardware would, so the system's own leave tracking is what is tested.
void MoveMouseTo(POINT point)
{
    SetCursorPos(point.x, point.y);
}

void ClickAt(POINT point)
{
    MoveMouseTo(point);
    INPUT clicks[2] = {};
    clicks[0].type = INPUT_MOUSE;
    clicks[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    clicks[1].type = INPUT_MOUSE;
    clicks[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    SendInput(2, clicks, sizeof(INPUT));
}

void Pump()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

class GameWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        CoInitialize(nullptr);
        g_appModule.AddMessageLoop(&m_loop);
        VariantInit(&m_url);
        m_url.vt = VT_BSTR;
        m_url.bstrVal = SysAllocString(L"http://127.0.0.1:1/full/play?openid=1&openkey=2");
        m_game = new CGameDlg(&m_url);
        ASSERT_NE(nullptr, m_game->Create(nullptr));
        m_hWnd = m_game->m_hWnd;
        Pump();
    }
    void TearDown() override
    {
        if (IsWindow(m_hWnd)) DestroyWindow(m_hWnd);
        Pump();
        delete m_game;
        VariantClear(&m_url);
        g_appModule.RemoveMessageLoop();
        // Drop a quit message left by the window.
        MSG msg;
        while (PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
        }
        CoUninitialize();
    }

    bool QuitPosted()
    {
        MSG msg;
        return PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE) != FALSE;
    }

    CMessageLoop m_loop;
    VARIANT m_url;
    CGameDlg* m_game = nullptr;
    HWND m_hWnd = nullptr;
};

TEST_F(GameWindow, StartsAtWorkAreaSizeWithItsBrowserAndTitle)
{
    RECT work;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    RECT window = WindowRect(m_hWnd);
    EXPECT_EQ(0, window.left);
    EXPECT_EQ(0, window.top);
    EXPECT_EQ(work.right, window.right);
    EXPECT_EQ(work.bottom, window.bottom);
    EXPECT_EQ(SIZE_TYPE_MAXIMIZED, m_game->m_nSizeState);
    EXPECT_NE(nullptr, m_game->m_wndBrowserHost);
    EXPECT_NE(nullptr, m_game->m_pBrowser);
    wchar_t title[64] = {};
    GetWindowTextW(m_hWnd, title, 64);
    EXPECT_STREQ(L"ZelmicVantorra", title);
    EXPECT_TRUE(IsWindowVisible(m_game->m_btnRestore.m_hWnd));
    EXPECT_FALSE(IsWindowVisible(m_game->m_btnMaximize.m_hWnd));
    // 952 bytes in the program as it ships; the 64-bit test build, for
    // machines that run no 32-bit programs, has the same record at its size.
    EXPECT_EQ(sizeof(void*) == 4 ? 952u : NOTIFYICONDATAW_V3_SIZE, m_game->m_nid.cbSize);
    EXPECT_EQ(TRUE, Shell_NotifyIconW(NIM_MODIFY, &m_game->m_nid)) << "the tray icon exists";
}

TEST_F(GameWindow, ThePageHasTheKeysAndNoPictureButtonEverKeepsThem)
{
    auto onPage = [&](HWND focus) {
        return focus && (focus == m_game->m_wndBrowserHost || IsChild(m_game->m_wndBrowserHost, focus));
    };
    EXPECT_TRUE(onPage(GetFocus())) << "at start";

    // A click, as the mouse gives it, and a focus given by hand (the dialog
    // manager's tab key) both leave the focus off the button.
    HWND restore = m_game->m_btnRestore.m_hWnd;
    SendMessageW(restore, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
    SendMessageW(restore, WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
    Pump();
    EXPECT_NE(SIZE_TYPE_MAXIMIZED, m_game->m_nSizeState) << "the click did its action";
    EXPECT_TRUE(onPage(GetFocus())) << "after a button's action";
    SetFocus(m_game->m_btnClose.m_hWnd);
    EXPECT_NE(m_game->m_btnClose.m_hWnd, GetFocus());
    EXPECT_EQ(0, GetWindowLongW(m_game->m_btnClose.m_hWnd, GWL_STYLE) & WS_TABSTOP);
    // The window itself given the focus, as activation does when no control
    // of it had the focus: the dialog manager's choice, its first control,
    // is a picture button that hands the focus back to the window.
    SetFocus(m_hWnd);
    EXPECT_TRUE(onPage(GetFocus())) << "the window itself given the focus";

    // So Space, which the page leaves alone, presses nothing: no exit question.
    MessageBoxAnswerer answerer(L"提示", IDCANCEL);
    HWND focus = GetFocus();
    SendMessageW(focus, WM_KEYDOWN, VK_SPACE, 0);
    SendMessageW(focus, WM_CHAR, L' ', 0);
    SendMessageW(focus, WM_KEYUP, VK_SPACE, 0);
    Pump();
    EXPECT_EQ(0, answerer.Count(L"正在游戏中，是否确认退出游戏？"));

    // After hiding and F9, the page has the keys again.
    SendMessageW(m_hWnd, WM_HOTKEY, HOTKEY_TOGGLE, 0);
    SendMessageW(m_hWnd, WM_HOTKEY, HOTKEY_TOGGLE, 0);
    EXPECT_TRUE(onPage(GetFocus())) << "after F9";
}

TEST_F(GameWindow, HitTestEdgesBeatCorners)
{
    for (int origin : {100, -700}) {
        SetWindowPos(m_hWnd, nullptr, origin, origin, 800, 600, SWP_NOZORDER);
        RECT w = WindowRect(m_hWnd);
        auto hit = [&](int dx, int dy) {
            return static_cast<int>(SendMessageW(m_hWnd, WM_NCHITTEST, 0, MAKELPARAM(w.left + dx, w.top + dy)));
        };
        EXPECT_EQ(HTLEFT, hit(2, 2)) << origin;
        EXPECT_EQ(HTTOPLEFT, hit(5, 5)) << origin;
        EXPECT_EQ(HTRIGHT, hit(797, 300)) << origin;
        EXPECT_EQ(HTBOTTOMRIGHT, hit(795, 595)) << origin;
        EXPECT_EQ(HTCLIENT, hit(400, 300)) << origin;
    }
    const std::pair<int, LPCWSTR> cursors[] = {{HTTOP, IDC_SIZENS},         {HTBOTTOM, IDC_SIZENS},
                                               {HTLEFT, IDC_SIZEWE},        {HTRIGHT, IDC_SIZEWE},
                                               {HTTOPLEFT, IDC_SIZENWSE},   {HTBOTTOMRIGHT, IDC_SIZENWSE},
                                               {HTTOPRIGHT, IDC_SIZENESW},  {HTBOTTOMLEFT, IDC_SIZENESW},
                                               {HTCLIENT, IDC_ARROW},       {HTCAPTION, IDC_ARROW}};
    for (const auto& pair : cursors) {
        SendMessageW(m_hWnd, WM_SETCURSOR, reinterpret_cast<WPARAM>(m_hWnd), MAKELPARAM(pair.first, WM_MOUSEMOVE));
        EXPECT_EQ(LoadCursorW(nullptr, pair.second), GetCursor()) << pair.first;
    }
}

TEST_F(GameWindow, PressesInTheTitleBandDragAndDoubleClicksToggle)
{
    for (int y : {3, 4, 26, 27}) {
        SendMessageW(m_hWnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(200, y));
        MSG msg;
        bool dragged = PeekMessageW(&msg, m_hWnd, WM_NCLBUTTONDOWN, WM_NCLBUTTONDOWN, PM_REMOVE) &&
                       msg.wParam == HTCAPTION;
        EXPECT_EQ(y == 4 || y == 26, dragged) << "y " << y;
    }
    RECT before = WindowRect(m_hWnd);
    SendMessageW(m_hWnd, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(200, 27));
    RECT same = WindowRect(m_hWnd);
    EXPECT_EQ(before.right - before.left, same.right - same.left);
    SendMessageW(m_hWnd, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(200, 26));
    RECT toggled = WindowRect(m_hWnd);
    EXPECT_NE(before.right - before.left, toggled.right - toggled.left);
}

TEST_F(GameWindow, WideningMovesTheRightButtonsOnly)
{
    m_game->ToggleSize();   // back to the initial size
    const int ids[] = {1006, 1007, 1012, 1008, 1010, 1009, 1011};
    std::map<int, POINT> before;
    for (int id : ids) before[id] = ChildPosition(m_hWnd, GetDlgItem(m_hWnd, id));
    RECT window = WindowRect(m_hWnd);
    SetWindowPos(m_hWnd, nullptr, 0, 0, window.right - window.left + 100, window.bottom - window.top,
                 SWP_NOMOVE | SWP_NOZORDER);
    for (int id : ids) {
        POINT after = ChildPosition(m_hWnd, GetDlgItem(m_hWnd, id));
        EXPECT_EQ(before[id].x + (id == 1011 ? 0 : 100), after.x) << id;
        EXPECT_EQ(before[id].y, after.y) << id;
    }
}

TEST_F(GameWindow, HeightIsClampedAndMinimisingMovesNothing)
{
    int limit = GetSystemMetrics(SM_CYFULLSCREEN) + 26;
    SetWindowPos(m_hWnd, nullptr, 0, 0, 900, limit + 150, SWP_NOMOVE | SWP_NOZORDER);
    EXPECT_EQ(limit, m_game->m_nLastHeight);
    long height = 0;
    if (m_game->m_pBrowser && SUCCEEDED(m_game->m_pBrowser->get_Height(&height))) {
        EXPECT_EQ(limit - 32, height);
    }
    int width = m_game->m_nLastWidth;
    POINT close = ChildPosition(m_hWnd, GetDlgItem(m_hWnd, 1006));
    ShowWindow(m_hWnd, SW_MINIMIZE);
    EXPECT_EQ(width, m_game->m_nLastWidth);
    EXPECT_EQ(limit, m_game->m_nLastHeight);
    ShowWindow(m_hWnd, SW_RESTORE);
    POINT after = ChildPosition(m_hWnd, GetDlgItem(m_hWnd, 1006));
    EXPECT_EQ(close.x, after.x);
}

TEST_F(GameWindow, ToggleSizeReturnsCentredAndSwapsButtons)
{
    RECT initial = m_game->m_rcInitial;
    m_game->ToggleSize();
    RECT restored = WindowRect(m_hWnd);
    EXPECT_EQ(initial.right, restored.right - restored.left);
    EXPECT_EQ(initial.bottom, restored.bottom - restored.top);
    EXPECT_FALSE(IsWindowVisible(m_game->m_btnRestore.m_hWnd));
    EXPECT_TRUE(IsWindowVisible(m_game->m_btnMaximize.m_hWnd));
    m_game->ToggleSize();
    EXPECT_EQ(SIZE_TYPE_MAXIMIZED, m_game->m_nSizeState);
    EXPECT_TRUE(IsWindowVisible(m_game->m_btnRestore.m_hWnd));

    // Minimise and restore write 1 then 0: the next toggle enlarges again.
    ShowWindow(m_hWnd, SW_MINIMIZE);
    ShowWindow(m_hWnd, SW_RESTORE);
    EXPECT_EQ(SIZE_TYPE_RESTORED, m_game->m_nSizeState);
    m_game->ToggleSize();
    EXPECT_EQ(SIZE_TYPE_MAXIMIZED, m_game->m_nSizeState);
}

TEST_F(GameWindow, ExitAsksAndOnlyOkEndsTheGame)
{
    MessageBoxAnswerer answerer(L"提示", IDCANCEL);
    PostMessageW(m_hWnd, WM_COMMAND, MAKEWPARAM(ID_MAIN_EXIT, 0), 0);
    Pump();
    EXPECT_EQ(1, answerer.Count(L"正在游戏中，是否确认退出游戏？"));
    EXPECT_TRUE(IsWindow(m_hWnd));
    EXPECT_FALSE(QuitPosted());

    SendMessageW(m_hWnd, WM_SYSCOMMAND, SC_CLOSE, 0);   // Alt+F4
    SendMessageW(m_hWnd, WM_CLOSE, 0, 0);               // the taskbar's close
    Pump();
    EXPECT_TRUE(IsWindow(m_hWnd));

    HICON icons[] = {reinterpret_cast<HICON>(SendMessageW(m_hWnd, WM_GETICON, ICON_BIG, 0)),
                     reinterpret_cast<HICON>(SendMessageW(m_hWnd, WM_GETICON, ICON_SMALL, 0))};
    answerer.SetButton(IDOK);
    PostMessageW(m_hWnd, WM_COMMAND, MAKEWPARAM(ID_TRAY_EXIT, 0), 0);
    Pump();
    EXPECT_EQ(2, answerer.Count(L"正在游戏中，是否确认退出游戏？"));
    EXPECT_FALSE(IsWindow(m_hWnd));
    EXPECT_TRUE(QuitPosted());
    NOTIFYICONDATAW nid = m_game->m_nid;
    EXPECT_FALSE(Shell_NotifyIconW(NIM_MODIFY, &nid)) << "the tray icon is gone";
    // What died with the window is neither kept nor reachable any more.
    for (HICON icon : icons) {
        ICONINFO info = {};
        ASSERT_NE(nullptr, icon);
        EXPECT_FALSE(GetIconInfo(icon, &info)) << "an icon outlived its window";
    }
    EXPECT_EQ(nullptr, m_game->m_pBrowser);
    EXPECT_EQ(nullptr, m_game->m_wndBrowserHost);
}

TEST_F(GameWindow, F9HidesAndShowsKeepingMinimised)
{
    SendMessageW(m_hWnd, WM_HOTKEY, HOTKEY_TOGGLE, 0);
    EXPECT_FALSE(IsWindowVisible(m_hWnd));
    SendMessageW(m_hWnd, WM_HOTKEY, HOTKEY_TOGGLE, 0);
    EXPECT_TRUE(IsWindowVisible(m_hWnd));

    ShowWindow(m_hWnd, SW_MINIMIZE);
    SendMessageW(m_hWnd, WM_HOTKEY, HOTKEY_TOGGLE, 0);
    EXPECT_FALSE(IsWindowVisible(m_hWnd));
    SendMessageW(m_hWnd, WM_HOTKEY, HOTKEY_TOGGLE, 0);
    EXPECT_TRUE(IsWindowVisible(m_hWnd));
    EXPECT_TRUE(IsIconic(m_hWnd));

    // The tray: a double click shows a hidden window.
    ShowWindow(m_hWnd, SW_HIDE);
    SendMessageW(m_hWnd, WM_TRAYICON, TRAY_ICON_ID, WM_LBUTTONDBLCLK);
    EXPECT_TRUE(IsWindowVisible(m_hWnd));

    // A restarted Explorer has lost every tray icon, and says so: the icon
    // comes back.
    NOTIFYICONDATAW nid = m_game->m_nid;
    ASSERT_TRUE(Shell_NotifyIconW(NIM_DELETE, &nid));
    ASSERT_FALSE(Shell_NotifyIconW(NIM_MODIFY, &nid));
    SendMessageW(m_hWnd, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
    EXPECT_TRUE(Shell_NotifyIconW(NIM_MODIFY, &nid)) << "the tray icon is back";
}

TEST_F(GameWindow, MenuCommandsRunTheirActions)
{
    // Hide/show from either menu, with any notification code.
    SendMessageW(m_hWnd, WM_COMMAND, MAKEWPARAM(ID_MAIN_TOGGLE_VISIBLE, 1), 0);
    EXPECT_FALSE(IsWindowVisible(m_hWnd));
    SendMessageW(m_hWnd, WM_COMMAND, MAKEWPARAM(ID_TRAY_TOGGLE_VISIBLE, 0), 0);
    EXPECT_TRUE(IsWindowVisible(m_hWnd));
    // Reset window toggles the size; refresh reaches the browser harmlessly.
    int state = m_game->m_nSizeState;
    SendMessageW(m_hWnd, WM_COMMAND, MAKEWPARAM(ID_MAIN_RESET_WINDOW, 0), 0);
    EXPECT_NE(state, m_game->m_nSizeState);
    SendMessageW(m_hWnd, WM_COMMAND, MAKEWPARAM(ID_MAIN_REFRESH, 0), 0);
    SendMessageW(m_hWnd, WM_COMMAND, MAKEWPARAM(ID_TRAY_REFRESH, 0), 0);
    EXPECT_TRUE(IsWindow(m_hWnd));
    // Clear cache from either menu reports once each time.
    TempFolder folder;
    CurrentDirectory inside(folder.Root());
    MessageBoxAnswerer answerer(L"提示", IDOK);
    PostMessageW(m_hWnd, WM_COMMAND, MAKEWPARAM(ID_MAIN_CLEAR_CACHE, 0), 0);
    Pump();
    PostMessageW(m_hWnd, WM_COMMAND, MAKEWPARAM(ID_TRAY_CLEAR_CACHE, 0), 0);
    Pump();
    EXPECT_EQ(2, answerer.Count(L"清空完成！"));
    // The hide button hides; the F5 hotkey refreshes only in the foreground.
    SendMessageW(m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_GAME_HIDE, BN_CLICKED), 0);
    EXPECT_FALSE(IsWindowVisible(m_hWnd));
    SendMessageW(m_hWnd, WM_HOTKEY, HOTKEY_REFRESH, 0);
    EXPECT_TRUE(IsWindow(m_hWnd));
}

// The mouse, moved for real, enters a title button and leaves it for the
// page after whatever came before: the hover face comes on entering and goes
// within a second of leaving.
TEST_F(GameWindow, PictureButtonsDropTheHoverFaceWhenTheMouseLeaves)
{
    TempFolder folder;
    CurrentDirectory inside(folder.Root());
    MessageBoxAnswerer answerer(L"提示", IDCANCEL);
    MenuDismisser menus;
    const std::wstring question = L"正在游戏中，是否确认退出游戏？";
    const std::wstring cleared = L"清空完成！";
    CGameDlg& game = *m_game;
    MyButton* buttons[] = {&game.m_btnClose, &game.m_btnMinimize, &game.m_btnRestore, &game.m_btnMaximize,
                           &game.m_btnHide,  &game.m_btnLogo,     &game.m_btnMenu};
    auto anyHover = [&] {
        for (MyButton* button : buttons) {
            if (button->IsHover()) return true;
        }
        return false;
    };
    // Clicks the button with the real mouse and waits for its action.
    auto click = [&](MyButton& button, const std::function<bool()>& done) {
        POINT over = CentreOf(button.m_hWnd);
        if (WindowFromPoint(over) != button.m_hWnd) return false;
        ClickAt(over);
        return WaitUntil(done, 10000);
    };
    auto clickOpensMenu = [&](MyButton& button) {
        int seen = menus.Count();
        return click(button, [&] { return menus.Count() > seen; });
    };
    struct Case {
        const char* before;
        MyButton* entered;
        // Does what comes before; false when it did not happen.
        std::function<bool()> run;
    };
    const Case cases[] = {
        {"nothing", &game.m_btnClose, [] { return true; }},
        {"a message box shown and answered", &game.m_btnClose,
         [&] {
             int seen = answerer.Count(cleared);
             PostMessageW(m_hWnd, WM_COMMAND, MAKEWPARAM(ID_MAIN_CLEAR_CACHE, 0), 0);
             return WaitUntil([&] { return answerer.Count(cleared) > seen; }, 10000);
         }},
        {"the close button's exit question, cancelled", &game.m_btnClose,
         [&] {
             int seen = answerer.Count(question);
             return click(game.m_btnClose, [&] { return answerer.Count(question) > seen; });
         }},
        {"the restore button's toggle", &game.m_btnMaximize,
         [&] {
             return click(game.m_btnRestore, [&] { return IsWindowVisible(game.m_btnMaximize.m_hWnd) != FALSE; });
         }},
        {"the maximise button's toggle", &game.m_btnRestore,
         [&] {
             return click(game.m_btnMaximize, [&] { return IsWindowVisible(game.m_btnRestore.m_hWnd) != FALSE; });
         }},
        {"the minimise button, then restored", &game.m_btnMinimize,
         [&] {
             bool done = click(game.m_btnMinimize, [&] { return IsIconic(m_hWnd) != FALSE; });
             ShowWindow(m_hWnd, SW_RESTORE);
             return done;
         }},
        {"the hide button, then F9", &game.m_btnHide,
         [&] {
             bool done = click(game.m_btnHide, [&] { return !IsWindowVisible(m_hWnd); });
             SendMessageW(m_hWnd, WM_HOTKEY, HOTKEY_TOGGLE, 0);
             return done && IsWindowVisible(m_hWnd);
         }},
        {"the menu button's menu, dismissed", &game.m_btnMenu, [&] { return clickOpensMenu(game.m_btnMenu); }},
        {"the logo's menu, dismissed", &game.m_btnLogo, [&] { return clickOpensMenu(game.m_btnLogo); }},
        {"F9 hiding and showing the window", &game.m_btnClose,
         [&] {
             SendMessageW(m_hWnd, WM_HOTKEY, HOTKEY_TOGGLE, 0);
             bool hidden = !IsWindowVisible(m_hWnd);
             SendMessageW(m_hWnd, WM_HOTKEY, HOTKEY_TOGGLE, 0);
             return hidden && IsWindowVisible(m_hWnd);
         }},
        {"the tray menu opened and dismissed", &game.m_btnClose,
         [&] {
             int seen = menus.Count();
             SendMessageW(m_hWnd, WM_TRAYICON, TRAY_ICON_ID, WM_RBUTTONDOWN);
             return menus.Count() > seen;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.before);
        ASSERT_TRUE(c.run()) << "what comes before did not happen";
        MoveMouseTo(CentreOf(m_hWnd));
        EXPECT_TRUE(WaitUntil([&] { return !anyHover(); }, 1000)) << "a hover face stayed on the page";
        MyButton& entered = *c.entered;
        POINT over = CentreOf(entered.m_hWnd);
        ASSERT_EQ(entered.m_hWnd, WindowFromPoint(over)) << "the button is not in view";
        MoveMouseTo(over);
        EXPECT_TRUE(WaitUntil([&] { return entered.IsHover(); }, 5000)) << "no hover face on entering";
        MoveMouseTo(CentreOf(m_hWnd));
        EXPECT_TRUE(WaitUntil([&] { return !entered.IsHover(); }, 1000)) << "the hover face stayed after leaving";
    }
}

TEST_F(GameWindow, TitleIsCutAtACharacterBoundary)
{
    std::wstring longTitle(300, L'x');
    m_game->SetTitleText(longTitle.c_str());
    EXPECT_EQ(255u, wcslen(m_game->m_szTitle));
    std::wstring pair = std::wstring(254, L'a') + L"\xD83D\xDE00";
    m_game->SetTitleText(pair.c_str());
    EXPECT_EQ(254u, wcslen(m_game->m_szTitle));
    m_game->SetTitleText(L"");
    EXPECT_EQ(0u, wcslen(m_game->m_szTitle));
}

// A stand-in for the game window, recording what the sink does to it.
class FakeGameWindow : public IGameBrowserWindow {
public:
    std::vector<std::wstring> titles;
    IWebBrowser2* browser = nullptr;
    HWND host = nullptr;
    void SetTitleText(const wchar_t* text) override { titles.emplace_back(text); }
    IWebBrowser2* GetBrowser() override { return browser; }
    HWND GetBrowserHost() override { return host; }
};

TEST(InvokeEvent, ComAnswers)
{
    CInvokeEvent sink;
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_POINTER, sink.QueryInterface(IID_IUnknown, nullptr));
    EXPECT_EQ(S_OK, sink.QueryInterface(IID_IUnknown, &out));
    EXPECT_EQ(static_cast<void*>(static_cast<IDispatch*>(&sink)), out);
    EXPECT_EQ(S_OK, sink.QueryInterface(IID_IDispatch, &out));
    EXPECT_EQ(S_OK, sink.QueryInterface(DIID_DWebBrowserEvents2, &out));
    out = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_NOINTERFACE, sink.QueryInterface(IID_IWebBrowser2, &out));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(1u, sink.AddRef());
    EXPECT_EQ(0u, sink.Release());
    UINT count = 0;
    EXPECT_EQ(E_NOTIMPL, sink.GetTypeInfoCount(&count));
    ITypeInfo* info = reinterpret_cast<ITypeInfo*>(1);
    EXPECT_EQ(E_NOTIMPL, sink.GetTypeInfo(0, 0, &info));
    EXPECT_EQ(nullptr, info);
    EXPECT_EQ(E_NOTIMPL, sink.GetIDsOfNames(IID_NULL, nullptr, 0, 0, nullptr));
    EXPECT_EQ(E_INVALIDARG, sink.Invoke(DISPID_TITLECHANGE, IID_NULL, 0, DISPATCH_METHOD, nullptr, nullptr,
                                        nullptr, nullptr));
}

TEST(InvokeEvent, TitleIsPaintedThenCleared)
{
    FakeGameWindow window;
    CInvokeEvent sink;
    sink.SetWindow(&window);
    VARIANT title;
    VariantInit(&title);
    title.vt = VT_BSTR;
    title.bstrVal = SysAllocString(L"Chapter 2");
    DISPPARAMS params = {&title, nullptr, 1, 0};
    EXPECT_EQ(S_OK, sink.Invoke(DISPID_TITLECHANGE, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr));
    EXPECT_EQ((std::vector<std::wstring>{L"Chapter 2", L""}), window.titles);
    VariantClear(&title);

    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    window.titles.clear();
    sink.Invoke(DISPID_TITLECHANGE, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr);
    EXPECT_EQ((std::vector<std::wstring>{L"", L""}), window.titles);
    EXPECT_EQ(S_OK, sink.Invoke(DISPID_NEWWINDOW3, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr));
}

TEST(InvokeEvent, ScrollBarsStayUnlessTheTopGamePageCompletes)
{
    EXPECT_TRUE(IsGamePageAddress(L"http://x/play?openid=1&openkey=2"));
    EXPECT_TRUE(IsGamePageAddress(L"http://x/openkeyopenid"));
    EXPECT_FALSE(IsGamePageAddress(L"http://x/play?openid=1"));
    EXPECT_FALSE(IsGamePageAddress(L"http://x/play?OpenId=1&OpenKey=2"));
    EXPECT_FALSE(IsGamePageAddress(nullptr));

    // A frame (another browser object) or a non-game address changes nothing.
    FakeGameWindow window;
    HWND host = CreateWindowExW(0, L"STATIC", L"", WS_POPUP | WS_VSCROLL, 0, 0, 10, 10, nullptr, nullptr, nullptr,
                                nullptr);
    window.host = host;
    CInvokeEvent sink;
    sink.SetWindow(&window);
    VARIANT address;
    VariantInit(&address);
    address.vt = VT_BSTR;
    address.bstrVal = SysAllocString(L"http://x/play?openid=1&openkey=2");
    VARIANT args[2];
    args[0].vt = VT_VARIANT | VT_BYREF;
    args[0].pvarVal = &address;
    args[1].vt = VT_DISPATCH;
    args[1].pdispVal = nullptr;
    DISPPARAMS params = {args, nullptr, 2, 0};
    EXPECT_EQ(S_OK, sink.Invoke(DISPID_DOCUMENTCOMPLETE, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr,
                                nullptr));
    EXPECT_NE(0, GetWindowLongW(host, GWL_STYLE) & WS_VSCROLL);
    VariantClear(&address);
    DestroyWindow(host);
}

}  // namespace
