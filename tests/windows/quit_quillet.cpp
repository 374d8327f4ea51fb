// Test helper: ends a running Quillet.exe the way a player does. It waits for
// the game window, chooses Exit and confirms the question with OK.
//   quit_quillet.exe [SECONDS]           exit code 0 when the game window went away
//   quit_quillet.exe --wait N [SECONDS]  exit code 0 once N game windows are open
//   quit_quillet.exe --clear-cache       chooses "清理缓存" in the game window and
//                                        confirms its report; exit code 0 when done
#include <windows.h>

#include <cwchar>

namespace {

// The game window: a dialog titled "ZelmicVantorra" with the logo button.
BOOL CALLBACK MatchGameWindow(HWND hWnd, LPARAM result)
{
    wchar_t title[64] = {};
    wchar_t name[16] = {};
    GetWindowTextW(hWnd, title, 64);
    GetClassNameW(hWnd, name, 16);
    if (std::wcscmp(title, L"ZelmicVantorra") == 0 && std::wcscmp(name, L"#32770") == 0 && GetDlgItem(hWnd, 1011)) {
        *reinterpret_cast<HWND*>(result) = hWnd;
        return FALSE;
    }
    return TRUE;
}

HWND FindGameWindow()
{
    HWND found = nullptr;
    EnumWindows(MatchGameWindow, reinterpret_cast<LPARAM>(&found));
    return found;
}

BOOL CALLBACK CountGameWindow(HWND hWnd, LPARAM count)
{
    HWND found = nullptr;
    MatchGameWindow(hWnd, reinterpret_cast<LPARAM>(&found));
    if (found) ++*reinterpret_cast<int*>(count);
    return TRUE;
}

int CountGameWindows()
{
    int count = 0;
    EnumWindows(CountGameWindow, reinterpret_cast<LPARAM>(&count));
    return count;
}

bool WaitFor(DWORD timeoutMs, HWND (*probe)(), HWND* pFound)
{
    DWORD start = GetTickCount();
    while (GetTickCount() - start < timeoutMs) {
        if ((*pFound = probe()) != nullptr) return true;
        Sleep(50);
    }
    return false;
}

HWND FindQuestion()
{
    return FindWindowW(L"#32770", L"提示");
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc > 2 && std::wcscmp(argv[1], L"--wait") == 0) {
        int wanted = static_cast<int>(wcstoul(argv[2], nullptr, 10));
        DWORD limit = (argc > 3 ? wcstoul(argv[3], nullptr, 10) : 60) * 1000;
        DWORD start = GetTickCount();
        while (CountGameWindows() < wanted) {
            if (GetTickCount() - start > limit) return 1;
            Sleep(50);
        }
        return 0;
    }
    if (argc > 1 && std::wcscmp(argv[1], L"--clear-cache") == 0) {
        HWND game = nullptr;
        if (!WaitFor(60000, FindGameWindow, &game)) return 1;
        PostMessageW(game, WM_COMMAND, MAKEWPARAM(32783, 0), 0);
        HWND report = nullptr;
        if (!WaitFor(20000, FindQuestion, &report)) return 2;
        PostMessageW(report, WM_COMMAND, IDOK, 0);
        DWORD start = GetTickCount();
        while (IsWindow(report)) {
            if (GetTickCount() - start > 20000) return 3;
            Sleep(50);
        }
        return 0;
    }
    DWORD timeoutMs = (argc > 1 ? wcstoul(argv[1], nullptr, 10) : 60) * 1000;
    HWND game = nullptr;
    if (!WaitFor(timeoutMs, FindGameWindow, &game)) return 1;
    PostMessageW(game, WM_COMMAND, MAKEWPARAM(32785, 0), 0);
    HWND question = nullptr;
    if (!WaitFor(20000, FindQuestion, &question)) return 2;
    PostMessageW(question, WM_COMMAND, IDOK, 0);
    DWORD start = GetTickCount();
    while (IsWindow(game)) {
        if (GetTickCount() - start > 20000) return 3;
        Sleep(50);
    }
    return 0;
}
