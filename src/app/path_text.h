// The shell's path texts: the buffer bound of a full path and the parts of a
// path that start-up takes apart.
#pragma once

#include <cstddef>
#include <string>

// Full paths hold at most 260 characters with the terminator.
const size_t MAX_PATH_CHARS = 260;

// The text after the last "\" of a path (the whole text without one).
std::wstring FileNamePart(const std::wstring& path);
// The text before the last "\" of a path (empty without one).
std::wstring FolderPart(const std::wstring& path);

// True when the path lies on drive C, in either letter case.
bool IsOnDriveC(const std::wstring& path);
