// Small helpers for the Win32 tests: temporary folders, the current
// directory, files, child processes and waiting with a deadline.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

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
