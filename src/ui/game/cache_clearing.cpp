#include "ui/game/cache_clearing.h"

#include <shlobj.h>
#include <wininet.h>

#include <vector>

#include "platform/event_log.h"
#include "platform/file_system.h"
#include "platform/wide_text_win32.h"
#include "server/resource_cache.h"

namespace {

// The entry as the URL cache hands it out, in a block of the size it asks for.
using CacheEntryBlock = std::vector<uint8_t>;

INTERNET_CACHE_ENTRY_INFOW* Entry(CacheEntryBlock& block)
{
    return reinterpret_cast<INTERNET_CACHE_ENTRY_INFOW*>(block.data());
}

void DeleteIfCookie(INTERNET_CACHE_ENTRY_INFOW* entry)
{
    if ((entry->CacheEntryType & COOKIE_CACHE_ENTRY) && entry->lpszSourceUrlName) {
        DeleteUrlCacheEntryW(entry->lpszSourceUrlName);
    }
}

}  // namespace

bool DeleteUrlCacheEntries()
{
    DWORD size = 0;
    FindFirstUrlCacheEntryW(nullptr, nullptr, &size);
    CacheEntryBlock block(size ? size : sizeof(INTERNET_CACHE_ENTRY_INFOW));
    size = static_cast<DWORD>(block.size());
    HANDLE search = FindFirstUrlCacheEntryW(nullptr, Entry(block), &size);
    if (!search) return false;
    for (;;) {
        DeleteIfCookie(Entry(block));
        size = 0;
        FindNextUrlCacheEntryW(search, nullptr, &size);
        if (size == 0) break;
        block.assign(size, 0);
        if (!FindNextUrlCacheEntryW(search, Entry(block), &size)) break;
    }
    FindCloseUrlCache(search);
    return true;
}

bool DeleteFolderContents(const std::wstring& folder)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*.*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    do {
        std::wstring name = found.cFileName;
        if (name == L"." || name == L".." || CompareStringOrdinal(name.c_str(), -1, L"desktop.ini", -1, TRUE) ==
                                                 CSTR_EQUAL) {
            continue;
        }
        std::wstring path = folder + L"\\" + name;
        DWORD attributes = GetFileAttributesW(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
            SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
        }
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
            (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            // A junction or a link to a folder: the link goes, never what it
            // points to.
            RemoveDirectoryW(path.c_str());
        } else if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            DeleteFolderContents(path);
            RemoveDirectoryW(path.c_str());
        } else {
            DeleteFileW(path.c_str());
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return true;
}

void ClearCaches(HWND hWndOwner)
{
    DeleteUrlCacheEntries();
    wchar_t cookies[MAX_PATH] = {};
    if (SHGetSpecialFolderPathW(nullptr, cookies, CSIDL_COOKIES, FALSE)) DeleteFolderContents(cookies);
    // The resource cache root, built from the current directory as the
    // server builds it; a trailing separator is dropped for the search.
    std::wstring root = ToWide(CacheRootUnder(GetCurrentDirectoryUtf8()), CP_UTF8);
    if (!root.empty() && root.back() == L'\\') root.pop_back();
    bool searched = DeleteFolderContents(root);
    LogEvent("cache clearing: cookies and %s %s", WideToUtf8(root).c_str(),
             searched ? "cleared" : "could not be searched");
    MessageBoxW(hWndOwner, L"清空完成！", L"提示", MB_OK);
}
