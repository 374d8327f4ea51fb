// Small helpers for the Win32 tests: temporary folders, the current
// directory, files, child processes and waiting with a deadline.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A new folder under the temporary folder, removed with its contents.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::wstring& Root() const { return m_root; }
    std::wstring Path(const std::wstring& name) const { return m_root + L"\\" + name; }

private:
    std::wstring m_root;
};

// Sets the current directory for a scope.
class CurrentDirectory {
public:
    explicit CurrentDirectory(const std::wstring& path);
    ~CurrentDirectory();
    CurrentDirectory(const CurrentDirectory&) = delete;
    CurrentDirectory& operator=(const CurrentDirectory&) = delete;

private:
    std::wstring m_previous;
};

// A started program, ended by force if it still runs when this goes.
class ChildProcess {
public:
    ChildProcess(const std::wstring& commandLine, const std::wstring& workingDir);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    bool Started() const { return m_process != nullptr; }
    // The exit code, or -1 when the program did not end within timeoutMs.
    int Wait(DWORD timeoutMs);

private:
    HANDLE m_process = nullptr;
};

// A program built beside the running test program.
std::wstring BesideTestProgram(const std::wstring& name);
void WriteTextFile(const std::wstring& path, const std::string& text);
bool FileExists(const std::wstring& path);
// Polls condition until it holds or timeoutMs passes, pumping messages.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs);

// Answers every message box with the given caption (window class #32770) by
// pressing the given button, and records each box's text.
class MessageBoxAnswerer {
public:
    MessageBoxAnswerer(const wchar_t* caption, int button);
    ~MessageBoxAnswerer();
    MessageBoxAnswerer(const MessageBoxAnswerer&) = delete;
    MessageBoxAnswerer& operator=(const MessageBoxAnswerer&) = delete;
    void SetButton(int button) { m_nButton = button; }
    // How many boxes with this text were answered so far.
    int Count(const std::wstring& text);

private:
    std::wstring m_caption;
    std::atomic<int> m_nButton;
    std::atomic<bool> m_bStop{false};
    std::mutex m_lock;
    std::vector<std::wstring> m_texts;
    std::thread m_thread;
};

// Dismisses every popup menu (window class #32768) this process shows, with
// Escape as the player would, and counts the menus seen.
class MenuDismisser {
public:
    MenuDismisser();
    ~MenuDismisser();
    MenuDismisser(const MenuDismisser&) = delete;
    MenuDismisser& operator=(const MenuDismisser&) = delete;
    int Count() const { return m_nCount; }

private:
    std::atomic<int> m_nCount{0};
    std::atomic<bool> m_bStop{false};
    std::thread m_thread;
};
