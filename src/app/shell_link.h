// Shell link files, as the desktop shortcut is written.
#pragma once

#include <string>

// Writes a shell link file through the shell link object. False when the
// object or its file interface cannot be had; the save's result is ignored.
bool CreateShellLink(const std::wstring& target, const std::wstring& linkPath, const std::wstring& workingDir);
