// Whole-file writes that never leave a partial file behind.
#pragma once

#include <cstddef>
#include <string>

// Creates or replaces the file at path (UTF-8) with exactly size bytes. When
// the file cannot be created, written whole or closed, any partial file is
// removed and the result is false.
bool WriteWholeFile(const std::string& path, const void* data, size_t size);

// The separator of the system's paths: "\" on Windows, "/" elsewhere.
extern const char PATH_SEPARATOR;

// The process's current directory as 8-bit text; empty when unreadable or
// longer than 999 bytes.
std::string GetCurrentDirectoryBytes();

// The 8-bit (ANSI) path operations of the resource cache.
bool PathExists(const std::string& path);
bool MakeDirectory(const std::string& path);
// Renames from over to, replacing a file of that name in one step, so that a
// reader sees either the old file or the whole new one.
bool RenameReplacing(const std::string& from, const std::string& to);
void RemoveFile(const std::string& path);
