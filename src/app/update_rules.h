// The self-update's decisions: the per-folder mutex name, the version file's
// values, the version test and the swap of the program files.
#pragma once

#include <functional>
#include <string>

// The program's folder with every "\", "/", ":" and "." replaced by "_":
// D:\mbrl gives D__mbrl. No namespace prefix is added.
std::wstring MutexNameForFolder(const std::wstring& folder);

// The value of key in the version file's text: the bytes after the first
// place where the key is directly followed by "=", up to the first NUL, LF
// or CR. Nothing is trimmed; empty when the key is not found. The key need
// not start a line, so "version" is also found in "subversion=".
std::string GetKeyValue(const char* text, const char* key);

// True when the advertised version counts as new: its first n characters
// (n = the built-in version's length) differ from the built-in version. A
// shorter advertised text differs at its end. Not an ordering: an older
// version is new too, and the built-in text followed by more is the same.
bool IsAdvertisedVersionNew(const std::wstring& builtIn, const std::wstring& advertised);

// The file moves of an update, in order: the running program to
// "Quillet.exe.old", then "Quillet.exe.tmp" to the program's name.
struct ProgramFileMoves {
    std::function<bool(const std::wstring& from, const std::wstring& to)> move;
};

// Puts the verified download in place of the running program. True only
// when both moves succeeded. When the first fails (an old file is still
// there) nothing changes and the download stays for a later start; when the
// second fails the old file is put back under the program's name, so the
// program file never goes missing.
bool SwapProgramFiles(const ProgramFileMoves& files, const std::wstring& programPath, const std::wstring& exeName);

const wchar_t OLD_PROGRAM_FILE[] = L"Quillet.exe.old";
const wchar_t NEW_PROGRAM_FILE[] = L"Quillet.exe.tmp";
const wchar_t VERSION_FILE[] = L"ver.txt";
const wchar_t UPDATE_PATH[] = L"/weiduan/Zelmic/";
