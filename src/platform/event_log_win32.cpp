#include "platform/event_log.h"
#include "platform/event_log_file.h"

#include <windows.h>

#include <cstdio>

#include "platform/wide_text_win32.h"

const char EVENT_LOG_LINE_END[] = "\r\n";

namespace {

// How long a line waits for another process to finish its own. A holder
// keeps the lock for one open, write and close (or one rename); past this
// the line is dropped rather than hold up the thread that logs.
const DWORD LOCK_WAIT_MS = 500;

// The name of the lock of the log at path: the full path with "/" as "\"
// and ASCII letters upper-cased (Windows paths ignore case), hashed
// (FNV-1a, 64 bits) so that any path gives a short name without "\". Every
// process of a folder spells its folder the same way, from its own path.
std::wstring LockNameFor(const std::wstring& path)
{
    std::wstring full = path;
    DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed > 0) {
        std::wstring buffer(needed, L'\0');
        DWORD length = GetFullPathNameW(path.c_str(), needed, &buffer[0], nullptr);
        if (length > 0 && length < needed) full.assign(buffer.c_str(), length);
    }
    uint64_t hash = 14695981039346656037ull;
    for (wchar_t c : full) {
        if (c == L'/') c = L'\\';
        if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
        hash = (hash ^ static_cast<uint16_t>(c)) * 1099511628211ull;
    }
    std::wstring name = L"Local\\QuilletEventLog.";
    for (int shift = 60; shift >= 0; shift -= 4) name += L"0123456789abcdef"[(hash >> shift) & 0xF];
    return name;
}

// The lock is a named mutex derived from the log's path, held around
// opening the file by name, checking its size, any rollover, the write and
// closing. No handle to the log outlives a line: a handle opened before
// another process's rollover would refer to "<path>.1", and while any handle
// to that file is open, the next rollover cannot replace it. Opening by name
// under the lock always finds the file that is the log at that moment, so
// there is no stale handle to detect. (A lock on the file itself, with
// LockFileEx, would lock a file that may have been renamed since it was
// opened.) An abandoned mutex (its holder died) is taken as it is: a line is
// one WriteFile, so nothing half-done is left behind.
class CWin32EventLogFile : public IEventLogFile {
public:
    CWin32EventLogFile(const std::string& path, int64_t nMaxBytes)
        : m_path(ToWide(path, CP_UTF8)),
          m_earlierPath(ToWide(path + ".1", CP_UTF8)),
          m_lockName(LockNameFor(m_path)),
          m_nMaxBytes(nMaxBytes)
    {
    }
    ~CWin32EventLogFile() override
    {
        if (m_mutex) CloseHandle(m_mutex);
    }

    bool Append(const char* line, size_t length) override
    {
        if (length > 0x7FFFFFFFu) return false;
        if (!m_mutex) {
            m_mutex = CreateMutexW(nullptr, FALSE, m_lockName.c_str());
            if (!m_mutex) return false;
        }
        DWORD waited = WaitForSingleObject(m_mutex, LOCK_WAIT_MS);
        if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) return false;
        bool written = AppendLocked(line, static_cast<DWORD>(length));
        ReleaseMutex(m_mutex);
        return written;
    }

private:
    // Shared for reading, writing and deletion: a viewer or another process
    // may hold the file, and the rollover renames it.
    HANDLE OpenLog() const
    {
        return CreateFileW(m_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    }

    bool AppendLocked(const char* line, DWORD length) const
    {
        HANDLE file = OpenLog();
        if (file == INVALID_HANDLE_VALUE) return false;
        LARGE_INTEGER size = {};
        if (!GetFileSizeEx(file, &size)) {
            CloseHandle(file);
            return false;
        }
        if (size.QuadPart > 0 && size.QuadPart + length > m_nMaxBytes) {
            // Closed first: this process's own handle must not stand in the
            // way of the rename. No other process writes meanwhile, so the
            // file opened next is the new, empty log.
            CloseHandle(file);
            if (!MoveFileExW(m_path.c_str(), m_earlierPath.c_str(), MOVEFILE_REPLACE_EXISTING)) return false;
            file = OpenLog();
            if (file == INVALID_HANDLE_VALUE) return false;
            if (!GetFileSizeEx(file, &size)) {
                CloseHandle(file);
                return false;
            }
        }
        // Under the lock the size is the end of the file, so writing there
        // is the append, in one call. The handle has full write access
        // rather than append-only access so that a line cut short (a full
        // disk) can be taken off again and the next line starts cleanly.
        OVERLAPPED at = {};
        at.Offset = size.LowPart;
        at.OffsetHigh = static_cast<DWORD>(size.HighPart);
        DWORD done = 0;
        bool written = WriteFile(file, line, length, &done, &at) && done == length;
        if (!written && done > 0 && SetFilePointerEx(file, size, nullptr, FILE_BEGIN)) SetEndOfFile(file);
        CloseHandle(file);
        return written;
    }

    const std::wstring m_path;
    const std::wstring m_earlierPath;
    const std::wstring m_lockName;
    const int64_t m_nMaxBytes;
    HANDLE m_mutex = nullptr;
};

}  // namespace

void FormatLocalTimeNow(char* text, size_t size)
{
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    std::snprintf(text, size, "%04d-%02d-%02d %02d:%02d:%02d.%03d", now.wYear, now.wMonth, now.wDay, now.wHour,
                  now.wMinute, now.wSecond, now.wMilliseconds);
}

std::unique_ptr<IEventLogFile> MakeEventLogFile(const std::string& path, int64_t nMaxBytes) noexcept
{
    try {
        return std::unique_ptr<IEventLogFile>(new CWin32EventLogFile(path, nMaxBytes));
    } catch (...) {
        return nullptr;
    }
}
