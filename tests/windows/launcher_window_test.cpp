// The launcher window with the real dialog manager and WebBrowser control
// under Wine: its place and layers, the dialog over it, and the hand-over.
#include "ui/launcher/translucent_dlg.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

#include <mshtmhst.h>

#include "ui/framework/ax_host.h"
#include "ui/launcher/browser_key_hook.h"
#include "ui/launcher/game_url_capture.h"
#include "win32_test_support.h"

namespace {

class FakeHandOver : public IGameHandOver {
public:
    void SetGameUrl(const wchar_t* url) override { m_url = url; }
    void ChooseGameWindow() override { ++m_nChosen; }
    std::wstring m_url;
    int m_nChosen = 0;
};

// Runs the launcher modally on this thread while check runs on another one
// against its windows; the check ends with the launcher closed one way or
// another, so the test never hangs.
INT_PTR RunLauncher(CTranslucentDlg& launcher, const std::function<void()>& check)
{
    std::atomic<bool> done{false};
    std::thread checker([&] {
        if (WaitUntil([&] { return launcher.m_hWnd && IsWindowVisible(launcher.m_hWnd); }, 20000)) check();
        done = true;
    });
    INT_PTR result = launcher.DoModal(nullptr);
    checker.join();
    return result;
}

// What a browser host tells its page about scroll bars and the like.
DWORD HostUiFlags(HWND hWndHost)
{
    auto* site = reinterpret_cast<IUnknown*>(SendMessageW(hWndHost, AtlGetHostMessage(), 0, 0));
    IDocHostUIHandler* handler = nullptr;
    if (!site || FAILED(site->QueryInterface(IID_IDocHostUIHandler, reinterpret_cast<void**>(&handler)))) return 0;
    DOCHOSTUIINFO info = {};
    info.cbSize = sizeof(info);
    handler->GetHostInfo(&info);
    handler->Release();
    return info.dwFlags;
}

// The window that has the keyboard focus on the thread of hWnd.
HWND FocusOf(HWND hWnd)
{
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    GetGUIThreadInfo(GetWindowThreadProcessId(hWnd, nullptr), &info);
    return info.hwndFocus;
}

RECT Rect(HWND hWnd)
{
    RECT rect = {};
    GetWindowRect(hWnd, &rect);
    return rect;
}

bool SameRect(const RECT& a, const RECT& b)
{
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

class LauncherWindow : public ::testing::Test {
protected:
    void SetUp() override { CoInitialize(nullptr); }
    void TearDown() override { CoUninitialize(); }
};

TEST_F(LauncherWindow, CentredLayeredPictureWithTheDialogOverIt)
{
    FakeHandOver handOver;
    CTranslucentDlg launcher(&handOver, L"http://127.0.0.1:1/client/gamecode/kolt/");
    RECT window = {}, dialog = {}, moved = {}, followed = {};
    LONG style = 0, exStyle = 0;
    COLORREF key = 0;
    DWORD flags = 0;
    DWORD hostFlags = 0;
    bool stillOpen = false;
    HWND focusAtStart = nullptr, focusAfterMove = nullptr, closeButton = nullptr;
    INT_PTR result = RunLauncher(launcher, [&] {
        HWND hWnd = launcher.m_hWnd;
        HWND standard = launcher.m_frame.Dialog()->GetHwnd();
        closeButton = GetDlgItem(standard, IDC_LAUNCHER_CLOSE);
        focusAtStart = FocusOf(hWnd);
        window = Rect(hWnd);
        dialog = Rect(standard);
        style = GetWindowLongW(hWnd, GWL_STYLE);
        exStyle = GetWindowLongW(hWnd, GWL_EXSTYLE);
        BYTE alpha = 0;
        GetLayeredWindowAttributes(standard, &key, &alpha, &flags);
        hostFlags = HostUiFlags(g_wndLauncherBrowserHost);
        // Esc and Alt+F4 leave the launcher open.
        SendMessageW(hWnd, WM_COMMAND, IDCANCEL, 0);
        SendMessageW(hWnd, WM_SYSCOMMAND, SC_CLOSE, 0);
        SendMessageW(standard, WM_COMMAND, IDCANCEL, 0);
        stillOpen = IsWindow(hWnd) && IsWindowVisible(hWnd);
        // A move of the picture takes the dialog along.
        SetWindowPos(hWnd, nullptr, window.left + 50, window.top + 30, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        moved = Rect(hWnd);
        WaitUntil([&] { return SameRect(Rect(standard), moved); }, 5000);
        followed = Rect(standard);
        focusAfterMove = FocusOf(hWnd);
        PostMessageW(standard, WM_COMMAND, MAKEWPARAM(IDC_LAUNCHER_START, BN_CLICKED), 0);
    });

    RECT work;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    EXPECT_EQ(1200, window.right - window.left);
    EXPECT_EQ(800, window.bottom - window.top);
    EXPECT_EQ((work.right - work.left - 1200) / 2 + work.left, window.left);
    EXPECT_EQ((work.bottom - work.top - 800) / 2 + work.top, window.top);
    EXPECT_EQ(0, style & WS_CAPTION) << std::hex << style;
    EXPECT_NE(0, style & static_cast<LONG>(WS_POPUP));
    EXPECT_NE(0, exStyle & WS_EX_LAYERED);
    EXPECT_TRUE(SameRect(window, dialog)) << "the dialog covers the picture at start";
    EXPECT_TRUE(SameRect(moved, followed)) << "and after a move";
    EXPECT_EQ(RGB(0, 255, 0), key);
    EXPECT_NE(0u, flags & LWA_COLORKEY);
    EXPECT_NE(0u, hostFlags & DOCHOSTUIFLAG_SCROLL_NO) << "the game-code page may show scroll bars";
    EXPECT_TRUE(stillOpen);
    // Space must never reach the close button, which would end the program.
    EXPECT_NE(closeButton, focusAtStart);
    EXPECT_NE(closeButton, focusAfterMove);
    EXPECT_EQ(0, GetWindowLongW(closeButton, GWL_STYLE) & WS_TABSTOP);
    EXPECT_EQ(1, result);
    EXPECT_GE(handOver.m_nChosen, 1) << "the start command chooses the game window";
    EXPECT_EQ(L"", handOver.m_url);
}

TEST_F(LauncherWindow, PlayPageNavigationHandsOverItself)
{
    FakeHandOver handOver;
    const std::wstring play = L"http://127.0.0.1:1/full/play_gamecode/?client=1&sid=5";
    CTranslucentDlg launcher(&handOver, play);
    std::atomic<bool> timedOut{false};
    INT_PTR result = RunLauncher(launcher, [&] {
        HWND hWnd = launcher.m_hWnd;
        if (!WaitUntil([&] { return !IsWindow(hWnd); }, 20000)) {
            timedOut = true;
            PostMessageW(hWnd, WM_DESTROY, 0, 0);
        }
    });
    EXPECT_FALSE(timedOut) << "the launcher did not close by itself";
    EXPECT_EQ(1, result);
    EXPECT_EQ(play + GAME_URL_ADDITION, handOver.m_url);
    EXPECT_GE(handOver.m_nChosen, 1);
}

TEST_F(LauncherWindow, IconsLastAsLongAsTheWindow)
{
    FakeHandOver handOver;
    CTranslucentDlg launcher(&handOver, L"http://127.0.0.1:1/client/gamecode/kolt/");
    HICON icons[2] = {};
    bool shownWithoutIcons = false;
    RunLauncher(launcher, [&] {
        HWND hWnd = launcher.m_hWnd;
        icons[0] = reinterpret_cast<HICON>(SendMessageW(hWnd, WM_GETICON, ICON_BIG, 0));
        icons[1] = reinterpret_cast<HICON>(SendMessageW(hWnd, WM_GETICON, ICON_SMALL, 0));
        // The launcher's own way out: a WM_DESTROY that ends its modal loop;
        // the window is shown until the loop has ended.
        SendMessageW(hWnd, WM_DESTROY, 0, 0);
        ICONINFO info = {};
        for (HICON icon : icons) {
            if (IsWindow(hWnd) && !GetIconInfo(icon, &info)) shownWithoutIcons = true;
            if (info.hbmColor) DeleteObject(info.hbmColor);
            if (info.hbmMask) DeleteObject(info.hbmMask);
        }
    });
    EXPECT_FALSE(shownWithoutIcons) << "an icon went while its window was still there";
    for (HICON icon : icons) {
        ICONINFO info = {};
        ASSERT_NE(nullptr, icon);
        EXPECT_FALSE(GetIconInfo(icon, &info)) << "an icon outlived its window";
    }
}

// The close button ends the whole process at once with exit code 0, before
// anything else runs; a death test watches it from outside.
void CloseFromTheLauncher()
{
    CoInitialize(nullptr);
    FakeHandOver handOver;
    CTranslucentDlg launcher(&handOver, L"http://127.0.0.1:1/client/gamecode/kolt/");
    RunLauncher(launcher, [&] {
        HWND standard = launcher.m_frame.Dialog()->GetHwnd();
        PostMessageW(standard, WM_COMMAND, MAKEWPARAM(IDC_LAUNCHER_CLOSE, BN_CLICKED), 0);
        WaitUntil([] { return false; }, 10000);
    });
    std::exit(7);   // reached only when the close button did not end the process
}

TEST(LauncherWindowDeathTest, CloseButtonEndsTheProcessWithZero)
{
    testing::FLAGS_gtest_death_test_style = "threadsafe";
    EXPECT_EXIT(CloseFromTheLauncher(), testing::ExitedWithCode(0), "");
}

}  // namespace
