#include "win32_test_support.h"

#include <shellapi.h>

#include <cwchar>

namespace {

// EnumWindows callback: the first shown popup menu of this process.
BOOL CALLBACK FindShownMenu(HWND hWnd, LPARAM lParam)
{
    DWORD process = 0;
    GetWindowThreadProcessId(hWnd, &process);
    wchar_t name[16] = {};
    if (process == GetCurrentProcessId() && IsWindowVisible(hWnd) && GetClassNameW(hWnd, name, 16) &&
        std::wcscmp(name, L"#32768") == 0) {
        *reinterpret_cast<HWND*>(lParam) = hWnd;
        return FALSE;
    }
    return TRUE;
}

void RemoveTree(const std::wstring& root)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((root + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring path = root + L"\\" + name;
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(path);
            } else {
                DeleteFileW(path.c_str());
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(root.c_str());
}

}  // namespace

TempFolder::TempFolder()
{
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    static LONG counter = 0;
    m_root = std::wstring(temp) + L"quillet-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
             std::to_wstring(InterlockedIncrement(&counter)) + L"-" + std::to_wstring(GetTickCount());
    if (m_root.back() == L'\\') m_root.pop_back();
    CreateDirectoryW(m_root.c_str(), nullptr);
}

TempFolder::~TempFolder()
{
    RemoveTree(m_root);
}

CurrentDirectory::CurrentDirectory(const std::wstring& path)
{
    wchar_t previous[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previous);
    m_previous = previous;
    SetCurrentDirectoryW(path.c_str());
}

CurrentDirectory::~CurrentDirectory()
{
    SetCurrentDirectoryW(m_previous.c_str());
}

ChildProcess::ChildProcess(const std::wstring& commandLine, const std::wstring& workingDir)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    std::wstring line = commandLine;
    if (CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, workingDir.c_str(), &startup,
                       &info)) {
        CloseHandle(info.hThread);
        m_process = info.hProcess;
    }
}

ChildProcess::~ChildProcess()
{
    if (!m_process) return;
    if (WaitForSingleObject(m_process, 0) == WAIT_TIMEOUT) {
        TerminateProcess(m_process, 1);
        WaitForSingleObject(m_process, 5000);
    }
    CloseHandle(m_process);
}

int ChildProcess::Wait(DWORD timeoutMs)
{
    if (!m_process || WaitForSingleObject(m_process, timeoutMs) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(m_process, &code);
    return static_cast<int>(code);
}

std::wstring BesideTestProgram(const std::wstring& name)
{
    wchar_t self[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path(self, n);
    return path.substr(0, path.find_last_of(L'\\') + 1) + name;
}

void WriteTextFile(const std::wstring& path, const std::string& text)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

bool FileExists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > timeoutMs) return false;
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(10);
    }
    return true;
}

MessageBoxAnswerer::MessageBoxAnswerer(const wchar_t* caption, int button) : m_caption(caption), m_nButton(button)
{
    m_thread = std::thread([this] {
        HWND last = nullptr;
        while (!m_bStop) {
            HWND box = FindWindowW(L"#32770", m_caption.c_str());
            if (box && box != last && IsWindowVisible(box)) {
                wchar_t text[256] = {};
                GetDlgItemTextW(box, 0xFFFF, text, 256);
                {
                    std::lock_guard<std::mutex> guard(m_lock);
                    m_texts.push_back(text);
                }
                PostMessageW(box, WM_COMMAND, m_nButton, 0);
                last = box;
            }
            Sleep(20);
        }
    });
}

MessageBoxAnswerer::~MessageBoxAnswerer()
{
    m_bStop = true;
    m_thread.join();
}

int MessageBoxAnswerer::Count(const std::wstring& text)
{
    std::lock_guard<std::mutex> guard(m_lock);
    int count = 0;
    for (const std::wstring& seen : m_texts) {
        if (seen == text) ++count;
    }
    return count;
}

MenuDismisser::MenuDismisser()
{
    m_thread = std::thread([this] {
        HWND last = nullptr;
        while (!m_bStop) {
            HWND menu = nullptr;
            EnumWindows(FindShownMenu, reinterpret_cast<LPARAM>(&menu));
            if (menu && menu != last) ++m_nCount;
            // Posted again for as long as the menu still shows.
            if (menu) PostMessageW(menu, WM_KEYDOWN, VK_ESCAPE, 0);
            last = menu;
            Sleep(50);
        }
    });
}

MenuDismisser::~MenuDismisser()
{
    m_bStop = true;
    m_thread.join();
}
