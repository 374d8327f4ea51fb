#include "app/win32_system.h"

#include <objbase.h>
#include <shlobj.h>

#include "app/start_arguments.h"

std::vector<std::wstring> CSystemDrives::LogicalDriveRoots()
{
    wchar_t buffer[MAX_PATH_CHARS] = {};
    DWORD length = GetLogicalDriveStringsW(MAX_PATH_CHARS, buffer);
    if (length >= MAX_PATH_CHARS) length = 0;  // the buffer was too small: nothing usable
    return SplitDriveStrings(buffer, length);
}

unsigned int CSystemDrives::DriveType(const std::wstring& root)
{
    return GetDriveTypeW(root.c_str());
}

bool CSystemDrives::FreeBytesForUser(const std::wstring& root, uint64_t* pnFree)
{
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExW(root.c_str(), &available, nullptr, nullptr)) return false;
    *pnFree = available.QuadPart;
    return true;
}

void CSystemDrives::Pause()
{
    Sleep(100);
}

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

bool CreateShellLink(const std::wstring& target, const std::wstring& linkPath, const std::wstring& workingDir)
{
    IShellLinkW* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&link)))) {
        return false;
    }
    link->SetPath(target.c_str());
    link->SetWorkingDirectory(workingDir.c_str());
    IPersistFile* file = nullptr;
    if (FAILED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
        link->Release();
        return false;
    }
    file->Save(linkPath.c_str(), TRUE);
    file->Release();
    link->Release();
    return true;
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

void RunGameMessageLoop(const HWND& hWndGame, const HWND& hWndBrowserHost)
{
    MSG msg;
    for (;;) {
        BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0 || got == -1) return;
        if (IsForwardedInputMessage(msg.message) && hWndGame &&
            (msg.hwnd == hWndGame || IsChild(hWndGame, msg.hwnd))) {
            if (SendMessageW(hWndBrowserHost, WM_FORWARDMSG, 0, reinterpret_cast<LPARAM>(&msg))) continue;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}
