#include "platform/file_system.h"

#include <windows.h>

#include <io.h>

#include <memory>

#include "platform/wide_text_win32.h"

namespace {

// File times count 100 ns steps from 1601; this is 1970 on that scale.
const int64_t UNIX_EPOCH_FILETIME = 116444736000000000LL;

}  // namespace

bool WriteWholeFile(const std::string& path, const void* data, size_t size)
{
    std::wstring widePath = ToWide(path, CP_UTF8);
    HANDLE file = CreateFileW(widePath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const char* bytes = static_cast<const char*>(data);
    bool written = true;
    // WriteFile takes 32-bit counts; larger blocks go in several calls.
    while (size > 0 && written) {
        DWORD piece = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
        DWORD done = 0;
        written = WriteFile(file, bytes, piece, &done, nullptr) && done == piece;
        bytes += done;
        size -= done;
    }
    written = written && FlushFileBuffers(file);
    bool closed = CloseHandle(file) != FALSE;
    if (written && closed) return true;
    DeleteFileW(widePath.c_str());
    return false;
}

const char PATH_SEPARATOR = '\\';

std::string GetCurrentDirectoryUtf8()
{
    wchar_t path[1000];
    DWORD length = GetCurrentDirectoryW(sizeof(path) / sizeof(path[0]), path);
    if (length == 0 || length >= sizeof(path) / sizeof(path[0])) return std::string();
    std::string text = WideToUtf8(std::wstring(path, length));
    return text.size() < 1000 ? text : std::string();
}

std::FILE* OpenFile(const std::string& path, const char* mode)
{
    return _wfopen(ToWide(path, CP_UTF8).c_str(), ToWide(mode, CP_UTF8).c_str());
}

bool PathExists(const std::string& path)
{
    return GetFileAttributesW(ToWide(path, CP_UTF8).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool MakeDirectory(const std::string& path)
{
    return CreateDirectoryW(ToWide(path, CP_UTF8).c_str(), nullptr) != FALSE;
}

bool RenameReplacing(const std::string& from, const std::string& to)
{
    // Write-through: the move is on the disk when it returns.
    return MoveFileExW(ToWide(from, CP_UTF8).c_str(), ToWide(to, CP_UTF8).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

bool RemoveFile(const std::string& path)
{
    if (DeleteFileW(ToWide(path, CP_UTF8).c_str())) return true;
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool FileSizeOf(const std::string& path, int64_t* pnSize)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(ToWide(path, CP_UTF8).c_str(), GetFileExInfoStandard, &data)) return false;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return false;
    *pnSize = (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return true;
}

bool SetModifiedTime(const std::string& path, int64_t nSeconds)
{
    // Shared with readers, writers and deleters: a file being sent or
    // removed meanwhile keeps its course.
    HANDLE file = CreateFileW(ToWide(path, CP_UTF8).c_str(), FILE_WRITE_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    int64_t ticks = nSeconds * 10000000 + UNIX_EPOCH_FILETIME;
    FILETIME modified = {static_cast<DWORD>(ticks), static_cast<DWORD>(static_cast<uint64_t>(ticks) >> 32)};
    bool set = SetFileTime(file, nullptr, nullptr, &modified) != FALSE;
    CloseHandle(file);
    return set;
}

bool FreeDiskBytes(const std::string& path, uint64_t* pnFree)
{
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExW(ToWide(path, CP_UTF8).c_str(), &available, nullptr, nullptr)) return false;
    *pnFree = available.QuadPart;
    return true;
}

CInputFile::~CInputFile()
{
    if (m_handle != -1) CloseHandle(reinterpret_cast<HANDLE>(m_handle));
}

bool CInputFile::Open(const std::string& path)
{
    // Shared for deletion too: clearing the cache or storing a newer copy
    // must not fail because a response is being read.
    HANDLE file = CreateFileW(ToWide(path, CP_UTF8).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(file, &size)) {
        CloseHandle(file);
        return false;
    }
    m_handle = reinterpret_cast<intptr_t>(file);
    m_nSize = size.QuadPart;
    m_path = path;
    return true;
}

bool CInputFile::RemoveIfCut()
{
    HANDLE opened = reinterpret_cast<HANDLE>(m_handle);
    LARGE_INTEGER size = {};
    if (m_handle == -1 || !GetFileSizeEx(opened, &size)) return false;
    if (size.QuadPart >= m_nSize) return false;   // a passing read error: the file is whole
    BY_HANDLE_FILE_INFORMATION mine = {};
    if (!GetFileInformationByHandle(opened, &mine)) return false;
    const int TRIES = 20;
    for (int attempt = 1;; ++attempt) {
        // Opened by name for deletion, and deleted through that handle only
        // when the name still holds the file that was found short.
        HANDLE named = CreateFileW(ToWide(m_path, CP_UTF8).c_str(), DELETE | FILE_READ_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
        if (named != INVALID_HANDLE_VALUE) {
            BY_HANDLE_FILE_INFORMATION theirs = {};
            FILE_DISPOSITION_INFO disposition = {TRUE};
            bool same = GetFileInformationByHandle(named, &theirs) &&
                        theirs.dwVolumeSerialNumber == mine.dwVolumeSerialNumber &&
                        theirs.nFileIndexHigh == mine.nFileIndexHigh && theirs.nFileIndexLow == mine.nFileIndexLow;
            bool removed = same && SetFileInformationByHandle(named, FileDispositionInfo, &disposition,
                                                              sizeof(disposition));
            CloseHandle(named);
            return removed;
        }
        // Whoever cut it may still hold it without delete sharing for a
        // moment; any other failure (gone, pending deletion) ends the tries.
        if (GetLastError() != ERROR_SHARING_VIOLATION || attempt == TRIES) return false;
        Sleep(50);
    }
}

bool FlushToDisk(std::FILE* file)
{
    if (std::fflush(file) != 0) return false;
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    return handle != INVALID_HANDLE_VALUE && FlushFileBuffers(handle);
}

bool ListFolder(const std::string& folder, const std::function<void(const FolderEntry&)>& visit)
{
    std::string pattern = folder;
    if (!pattern.empty() && pattern.back() != '\\' && pattern.back() != '/') pattern += '\\';
    pattern += '*';
    WIN32_FIND_DATAW found;
    HANDLE handle = FindFirstFileW(ToWide(pattern, CP_UTF8).c_str(), &found);
    if (handle == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
    std::unique_ptr<void, BOOL(WINAPI*)(HANDLE)> search(handle, FindClose);
    FolderEntry entry;
    do {
        if (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) continue;
        entry.name = WideToUtf8(found.cFileName);
        entry.nSize = (static_cast<int64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
        int64_t time = (static_cast<int64_t>(found.ftLastWriteTime.dwHighDateTime) << 32) |
                       found.ftLastWriteTime.dwLowDateTime;
        entry.nModified = (time - UNIX_EPOCH_FILETIME) / 10000000;
        visit(entry);
    } while (FindNextFileW(handle, &found));
    // Anything but the end of the list leaves the listing incomplete.
    return GetLastError() == ERROR_NO_MORE_FILES;
}
