// The shell's thin Win32 operations: the program's own path, the drives, the
// desktop shortcut and starting a copy of the program.
#pragma once

#include <windows.h>

#include <string>

#include "app/drive_choice.h"

// The drives as the system reports them, pausing 100 ms after each one.
class CSystemDrives : public IDriveQuery {
public:
    std::vector<std::wstring> LogicalDriveRoots() override;
    unsigned int DriveType(const std::wstring& root) override;
    bool FreeBytesForUser(const std::wstring& root, uint64_t* pnFree) override;
    void Pause() override;
};

// The running program's full path; empty when it does not fit 260 characters.
std::wstring GetProgramPath();
// The current directory; empty when it does not fit nMaxChars characters.
std::wstring GetCurrentDir(size_t nMaxChars);

// Writes a shell link file through the shell link object. False when the
// object or its file interface cannot be had; the save's result is ignored.
bool CreateShellLink(const std::wstring& target, const std::wstring& linkPath, const std::wstring& workingDir);

// Starts commandLine (its program quoted first) in workingDir, with no
// inherited handles, a new console and the default error mode. The handles
// are closed at once: the program never waits for a copy it starts.
bool StartProgram(const std::wstring& commandLine, const std::wstring& workingDir);

// Runs the game phase's message loop until WM_QUIT (or a failed GetMessage).
// Keyboard and mouse messages for hWndGame or a descendant are first sent to
// hWndBrowserHost as WM_FORWARDMSG; a nonzero answer consumes them. Both
// handles are read anew for every message, since the host appears while the
// game window initialises.
void RunGameMessageLoop(const HWND& hWndGame, const HWND& hWndBrowserHost);

// The message by which a host lets its control see input first.
const UINT WM_FORWARDMSG = 0x037F;
