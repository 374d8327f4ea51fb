#include "app/update_rules.h"

#include <cstring>

std::wstring MutexNameForFolder(const std::wstring& folder)
{
    std::wstring name = folder;
    for (wchar_t& c : name) {
        if (c == L'\\' || c == L'/' || c == L':' || c == L'.') c = L'_';
    }
    return name;
}

std::string GetKeyValue(const char* text, const char* key)
{
    size_t keyLength = std::strlen(key);
    if (keyLength == 0) return std::string();
    const char* found = std::strstr(text, key);
    while (found && found[keyLength] != '=') found = std::strstr(found + 1, key);
    if (!found) return std::string();
    const char* value = found + keyLength + 1;
    size_t length = std::strcspn(value, "\n\r");
    return std::string(value, length);
}

bool IsAdvertisedVersionNew(const std::wstring& builtIn, const std::wstring& advertised)
{
    // Past its end the advertised text counts as its terminator, so a
    // shorter one differs there.
    for (size_t i = 0; i < builtIn.size(); ++i) {
        wchar_t c = i < advertised.size() ? advertised[i] : L'\0';
        if (c != builtIn[i]) return true;
    }
    return false;
}

bool SwapProgramFiles(const ProgramFileMoves& files, const std::wstring& programPath, const std::wstring& exeName)
{
    if (!files.move(programPath, OLD_PROGRAM_FILE)) return false;
    if (files.move(NEW_PROGRAM_FILE, exeName)) return true;
    files.move(OLD_PROGRAM_FILE, programPath);
    return false;
}
