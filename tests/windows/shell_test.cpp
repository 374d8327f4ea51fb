// The shell's Win32 side: the shortcut through the shell link object, the
// clean-up of the old program file and "delfile=".
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/client_app.h"
#include "app/shell_link.h"
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

}  // namespace
