// The running program's own place, and starting a copy of it.
#pragma once

#include <cstddef>
#include <string>

// The running program's full path; empty when it does not fit 260 characters.
std::wstring GetProgramPath();
// The current directory; empty when it does not fit nMaxChars characters.
std::wstring GetCurrentDir(size_t nMaxChars);

// Starts commandLine (its program quoted first) in workingDir, with no
// inherited handles, a new console and the default error mode. The handles
// are closed at once: the program never waits for a copy it starts.
bool StartProgram(const std::wstring& commandLine, const std::wstring& workingDir);
