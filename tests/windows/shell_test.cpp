// The shell's Win32 side: the shortcut through the shell link object, the
// clean-up of the old program file, "delfile=" and the game phase's loop.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/client_app.h"
#include "app/win32_system.h"
#include "server/http_server.h"
#include "ui/framework/message_loop.h"
#include "win32_test_support.h"

CAppModule g_appModule;

namespace {
// Never started: the shell's tests do not serve resources.
CHTTPServer g_server;
}  // namespace

namespace {

class ComApartment : public ::testing::Test {
protected:
    void SetUp() override { CoInitialize(nullptr); }
    void TearDown() override { CoUninitialize(); }
};

struct LinkContents {
    std::wstring target;
    std::wstring workingDir;
};

bool ReadShellLink(const std::wstring& path, LinkContents* contents)
{
    IShellLinkW* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&link)))) {
        return false;
    }
    IPersistFile* file = nullptr;
    bool ok = SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
              SUCCEEDED(file->Load(path.c_str(), STGM_READ));
    wchar_t text[MAX_PATH] = {};
    if (ok && SUCCEEDED(link->GetPath(text, MAX_PATH, nullptr, SLGP_RAWPATH))) contents->target = text;
    if (ok && SUCCEEDED(link->GetWorkingDirectory(text, MAX_PATH))) contents->workingDir = text;
    if (file) file->Release();
    link->Release();
    return ok;
}

std::wstring DesktopFolder()
{
    wchar_t desktop[MAX_PATH] = {};
    SHGetSpecialFolderPathW(nullptr, desktop, CSIDL_DESKTOP, TRUE);
    return desktop;
}

using ShellLink = ComApartment;

TEST_F(ShellLink, WrittenLinkReadsBack)
{
    TempFolder folder;
    std::wstring linkPath = folder.Path(L"test.lnk");
    ASSERT_TRUE(CreateShellLink(L"C:\\Games\\Quillet.exe", linkPath, L"C:\\Games"));
    LinkContents contents;
    ASSERT_TRUE(ReadShellLink(linkPath, &contents));
    EXPECT_EQ(L"C:\\Games\\Quillet.exe", contents.target);
    EXPECT_EQ(L"C:\\Games", contents.workingDir);
}

TEST_F(ShellLink, DesktopShortcutPointsAtTheCurrentFolder)
{
    TempFolder folder;
    CurrentDirectory inside(folder.Root());
    std::wstring linkPath = DesktopFolder() + L"\\ZelmicVantorra.lnk";
    DeleteFileW(linkPath.c_str());
    CClientApp app(g_server);
    wcscpy(app.m_szExeName, L"Quillet.exe");
    app.CreateDesktopShortcut();
    LinkContents contents;
    ASSERT_TRUE(ReadShellLink(linkPath, &contents));
    EXPECT_EQ(0, _wcsicmp((folder.Root() + L"\\Quillet.exe").c_str(), contents.target.c_str()))
        << testing::PrintToString(contents.target);
    EXPECT_EQ(0, _wcsicmp(folder.Root().c_str(), contents.workingDir.c_str()));
    DeleteFileW(linkPath.c_str());
}

TEST_F(ShellLink, NoShortcutWhenRunningFromTheDesktopInAnotherCase)
{
    std::wstring desktop = DesktopFolder();
    std::wstring linkPath = desktop + L"\\ZelmicVantorra.lnk";
    DeleteFileW(linkPath.c_str());
    std::wstring otherCase = desktop;
    for (wchar_t& c : otherCase) c = static_cast<wchar_t>(iswupper(c) ? towlower(c) : towupper(c));
    CurrentDirectory inside(otherCase);
    CClientApp app(g_server);
    wcscpy(app.m_szExeName, L"Quillet.exe");
    app.CreateDesktopShortcut();
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(linkPath.c_str()));
}

TEST(OldProgramFile, RetriesAfterAnUpdateWhileAnotherProcessHoldsIt)
{
    TempFolder folder;
    CurrentDirectory inside(folder.Root());
    WriteTextFile(folder.Path(L"Quillet.exe.old"), "old");
    ChildProcess holder(L"\"" + BesideTestProgram(L"hold_file.exe") + L"\" Quillet.exe.old 2000", folder.Root());
    ASSERT_TRUE(WaitUntil([&] { return FileExists(folder.Path(L"Quillet.exe.old.held")); }, 20000));

    CClientApp app(g_server);
    app.DeleteOldProgramFile(true);
    EXPECT_FALSE(FileExists(folder.Path(L"Quillet.exe.old")));
    EXPECT_EQ(0, holder.Wait(20000));
}

TEST(OldProgramFile, OneTryWithoutReopenLeavesAHeldFile)
{
    TempFolder folder;
    CurrentDirectory inside(folder.Root());
    WriteTextFile(folder.Path(L"Quillet.exe.old"), "old");
    ChildProcess holder(L"\"" + BesideTestProgram(L"hold_file.exe") + L"\" Quillet.exe.old 3000", folder.Root());
    ASSERT_TRUE(WaitUntil([&] { return FileExists(folder.Path(L"Quillet.exe.old.held")); }, 20000));

    CClientApp app(g_server);
    app.DeleteOldProgramFile(false);
    EXPECT_TRUE(FileExists(folder.Path(L"Quillet.exe.old")));
    EXPECT_EQ(0, holder.Wait(20000));
    app.DeleteOldProgramFile(false);
    EXPECT_FALSE(FileExists(folder.Path(L"Quillet.exe.old")));
}

// Starts Quillet.exe with arguments in folder, ends the game it shows through
// Exit and OK (quit_quillet.exe), and gives the program's exit code.
int RunProgramToTheEnd(const std::wstring& arguments, const std::wstring& folder)
{
    ChildProcess program(L"\"" + BesideTestProgram(L"Quillet.exe") + L"\" " + arguments, folder);
    ChildProcess quit(L"\"" + BesideTestProgram(L"quit_quillet.exe") + L"\" 60", folder);
    EXPECT_EQ(0, quit.Wait(90000)) << "the game window was not ended";
    return program.Wait(60000);
}

TEST(Program, ShowsTheGameAndEndsWithZeroAfterExit)
{
    TempFolder folder;
    EXPECT_EQ(0, RunProgramToTheEnd(L"", folder.Root()));
}

TEST(DelfileArgument, TheStartedProgramDeletesThePathAfterTheLastEquals)
{
    TempFolder folder;
    struct Case {
        std::wstring argumentBeforePath;
        std::wstring path;       // as the argument names it
        std::wstring file;       // the file that must go
    };
    const Case cases[] = {
        {L"delfile=", folder.Path(L"old copy.exe"), folder.Path(L"old copy.exe")},
        {L"delfileXYZ=", folder.Path(L"extra.exe"), folder.Path(L"extra.exe")},
        // Only the text after the last "=" is taken, here a name relative to
        // the working directory.
        {L"delfile=C:\\x=", L"relative.exe", folder.Path(L"relative.exe")},
    };
    for (const Case& c : cases) {
        WriteTextFile(c.file, "old");
        EXPECT_EQ(0, RunProgramToTheEnd(c.argumentBeforePath + c.path, folder.Root()));
        EXPECT_FALSE(FileExists(c.file)) << testing::PrintToString(c.path);
    }
}

// The game phase's loop: input for the game window or its descendants goes
// to the browser host first; what the host consumes is never dispatched.
struct LoopRecord {
    std::vector<std::pair<HWND, WPARAM>> offered;   // WM_FORWARDMSG: target and key
    std::vector<std::pair<HWND, WPARAM>> received;  // WM_KEYDOWN dispatched to a window
};
LoopRecord g_record;

LRESULT CALLBACK RecordingProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_KEYDOWN) g_record.received.emplace_back(hWnd, wParam);
    return DefWindowProcW(hWnd, message, wParam, lParam);
}

// The host consumes the key 'A' and lets everything else through.
LRESULT CALLBACK HostProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_FORWARDMSG) {
        const MSG* msg = reinterpret_cast<const MSG*>(lParam);
        g_record.offered.emplace_back(msg->hwnd, msg->wParam);
        return msg->message == WM_KEYDOWN && msg->wParam == 'A' ? 1 : 0;
    }
    return DefWindowProcW(hWnd, message, wParam, lParam);
}

TEST(GameMessageLoop, OffersInputToTheBrowserHostFirst)
{
    WNDCLASSW recording = {};
    recording.lpfnWndProc = RecordingProc;
    recording.lpszClassName = L"QuilletTestRecording";
    recording.hInstance = GetModuleHandleW(nullptr);
    RegisterClassW(&recording);
    WNDCLASSW host = recording;
    host.lpfnWndProc = HostProc;
    host.lpszClassName = L"QuilletTestHost";
    RegisterClassW(&host);

    HWND game = CreateWindowExW(0, L"QuilletTestRecording", L"game", WS_POPUP, 0, 0, 100, 100, nullptr, nullptr,
                                nullptr, nullptr);
    HWND child = CreateWindowExW(0, L"QuilletTestRecording", L"child", WS_CHILD, 0, 0, 10, 10, game, nullptr,
                                 nullptr, nullptr);
    HWND grandchild = CreateWindowExW(0, L"QuilletTestRecording", L"grandchild", WS_CHILD, 0, 0, 5, 5, child,
                                      nullptr, nullptr, nullptr);
    HWND browserHost = CreateWindowExW(0, L"QuilletTestHost", L"host", WS_CHILD, 0, 0, 10, 10, game, nullptr,
                                       nullptr, nullptr);
    HWND other = CreateWindowExW(0, L"QuilletTestRecording", L"other", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                 nullptr, nullptr);
    ASSERT_TRUE(game && child && grandchild && browserHost && other);

    g_record = LoopRecord();
    PostMessageW(game, WM_KEYDOWN, 'A', 0);
    PostMessageW(grandchild, WM_KEYDOWN, 'A', 0);
    PostMessageW(child, WM_KEYDOWN, 'B', 0);
    PostMessageW(other, WM_KEYDOWN, 'A', 0);
    PostQuitMessage(0);
    RunGameMessageLoop(game, browserHost);

    // 'B' was translated after the host let it through: its WM_CHAR 'b' is
    // offered in turn. The consumed 'A's were never translated.
    std::vector<std::pair<HWND, WPARAM>> offered = {{game, 'A'}, {grandchild, 'A'}, {child, 'B'}, {child, 'b'}};
    std::vector<std::pair<HWND, WPARAM>> received = {{child, 'B'}, {other, 'A'}};
    EXPECT_EQ(offered, g_record.offered);
    EXPECT_EQ(received, g_record.received);

    DestroyWindow(other);
    DestroyWindow(game);
}

}  // namespace
