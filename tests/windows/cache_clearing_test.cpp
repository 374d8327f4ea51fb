// Cache clearing on real folders and the real URL cache under Wine.
#include "ui/game/cache_clearing.h"

#include <windows.h>
#include <wininet.h>

#include <gtest/gtest.h>

#include <string>

#include "server/http_server.h"
#include "win32_test_support.h"

namespace {

void MakeFolder(const std::wstring& path)
{
    CreateDirectoryW(path.c_str(), nullptr);
}

void ReadOnlyFile(const std::wstring& path)
{
    WriteTextFile(path, "x");
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY);
}

TEST(DeleteFolderContents, EmptiesTheTreeButKeepsDesktopIniAndTheRoot)
{
    TempFolder folder;
    std::wstring root = folder.Path(L"root");
    MakeFolder(root);
    ReadOnlyFile(root + L"\\a.txt");
    WriteTextFile(root + L"\\Desktop.INI", "keep");
    MakeFolder(root + L"\\sub");
    WriteTextFile(root + L"\\sub\\desktop.ini", "keep");
    ReadOnlyFile(root + L"\\sub\\x.bin");
    MakeFolder(root + L"\\sub2");
    MakeFolder(root + L"\\sub2\\deep");
    WriteTextFile(root + L"\\sub2\\deep\\y.dat", "y");
    WriteTextFile(root + L"\\sub2\\deep\\DESKTOP.ini", "keep");
    MakeFolder(root + L"\\empty");
    MakeFolder(root + L"\\empty\\inner");
    ReadOnlyFile(root + L"\\empty\\inner\\z");
    WriteTextFile(root + L"\\held.bin", "held");
    ChildProcess holder(L"\"" + BesideTestProgram(L"hold_file.exe") + L"\" held.bin 15000", root);
    ASSERT_TRUE(WaitUntil([&] { return FileExists(root + L"\\held.bin.held"); }, 20000));
    DeleteFileW((root + L"\\held.bin.held").c_str());

    EXPECT_TRUE(DeleteFolderContents(root));

    EXPECT_TRUE(FileExists(root));
    EXPECT_FALSE(FileExists(root + L"\\a.txt"));
    EXPECT_TRUE(FileExists(root + L"\\Desktop.INI"));
    EXPECT_TRUE(FileExists(root + L"\\sub\\desktop.ini"));
    EXPECT_FALSE(FileExists(root + L"\\sub\\x.bin"));
    EXPECT_FALSE(FileExists(root + L"\\sub2\\deep\\y.dat"));
    EXPECT_TRUE(FileExists(root + L"\\sub2\\deep\\DESKTOP.ini"));
    EXPECT_FALSE(FileExists(root + L"\\empty"));
    EXPECT_TRUE(FileExists(root + L"\\held.bin")) << "a file in use stays; the walk goes on";
    EXPECT_FALSE(DeleteFolderContents(folder.Path(L"missing")));
}

TEST(ClearCaches, EmptiesTheResourceCacheAndReportsOnce)
{
    TempFolder folder;
    CurrentDirectory inside(folder.Root());
    MakeFolder(folder.Path(L"wz_cdn"));
    MakeFolder(folder.Path(L"wz_cdn\\cdn"));
    ReadOnlyFile(folder.Path(L"wz_cdn\\cdn\\0123456789abcdef0123456789abcdef"));
    WriteTextFile(folder.Path(L"wz_cdn\\cdn\\fedcba9876543210fedcba9876543210"), "y");

    HWND owner = CreateWindowExW(0, L"STATIC", L"owner", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, nullptr, nullptr,
                                 nullptr, nullptr);
    MessageBoxAnswerer answerer(L"提示", IDOK);
    ClearCaches(owner);
    EXPECT_TRUE(WaitUntil([&] { return answerer.Count(L"清空完成！") >= 1; }, 5000));
    EXPECT_EQ(1, answerer.Count(L"清空完成！"));
    EXPECT_TRUE(FileExists(folder.Path(L"wz_cdn\\cdn")));
    EXPECT_FALSE(FileExists(folder.Path(L"wz_cdn\\cdn\\0123456789abcdef0123456789abcdef")));
    EXPECT_FALSE(FileExists(folder.Path(L"wz_cdn\\cdn\\fedcba9876543210fedcba9876543210")));
    DestroyWindow(owner);
}

bool AddUrlCacheEntry(const wchar_t* url, DWORD type)
{
    wchar_t file[MAX_PATH] = {};
    if (!CreateUrlCacheEntryW(url, 0, L"txt", file, 0)) return false;
    WriteTextFile(file, "entry");
    FILETIME never = {};
    return CommitUrlCacheEntryW(url, file, never, never, type, nullptr, 0, L"txt", nullptr) != FALSE;
}

bool InUrlCache(const wchar_t* url)
{
    DWORD size = 0;
    GetUrlCacheEntryInfoW(url, nullptr, &size);
    return GetLastError() == ERROR_INSUFFICIENT_BUFFER;
}

TEST(DeleteUrlCacheEntries, RemovesCookiesOnly)
{
    const wchar_t* cookie = L"Cookie:player@game.example/";
    const wchar_t* page = L"http://game.example/page.html";
    bool added = AddUrlCacheEntry(cookie, COOKIE_CACHE_ENTRY) && AddUrlCacheEntry(page, NORMAL_CACHE_ENTRY);
    if (!added) GTEST_SKIP() << "this URL cache cannot hold the prepared entries";
    ASSERT_TRUE(InUrlCache(cookie));
    ASSERT_TRUE(InUrlCache(page));
    EXPECT_TRUE(DeleteUrlCacheEntries());
    EXPECT_FALSE(InUrlCache(cookie));
    EXPECT_TRUE(InUrlCache(page));
    DeleteUrlCacheEntryW(page);
}

}  // namespace
