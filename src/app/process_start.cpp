#include "app/process_start.h"

#include <windows.h>

#include "app/path_text.h"

std::wstring GetProgramPath()
{
    wchar_t path[MAX_PATH_CHARS];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH_CHARS);
    // A path that filled the buffer was cut: it must not be used.
    if (length == 0 || length >= MAX_PATH_CHARS) return std::wstring();
    return std::wstring(path, length);
}

std::wstring GetCurrentDir(size_t nMaxChars)
{
    wchar_t path[MAX_PATH_CHARS];
    DWORD length = GetCurrentDirectoryW(MAX_PATH_CHARS, path);
    if (length == 0 || length >= nMaxChars || length >= MAX_PATH_CHARS) return std::wstring();
    return std::wstring(path, length);
}

bool StartProgram(const std::wstring& commandLine, const std::wstring& workingDir)
{
    static_assert(sizeof(void*) != 4 || sizeof(STARTUPINFOW) == 68, "32-bit STARTUPINFOW is 68 bytes");
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    // CreateProcessW may write into the command line, so it gets a copy.
    std::wstring line = commandLine;
    const DWORD flags = CREATE_DEFAULT_ERROR_MODE | CREATE_UNICODE_ENVIRONMENT | CREATE_NEW_CONSOLE;
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, flags, nullptr, workingDir.c_str(),
                        &startup, &process)) {
        return false;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}
