#include "app/start_arguments.h"

StartArguments ParseStartArguments(const std::wstring& text)
{
    StartArguments arguments;
    if (text == L"re_open") {
        arguments.bReopen = true;
        return arguments;
    }
    if (text.compare(0, 7, L"delfile") != 0) return arguments;
    size_t equals = text.find_last_of(L'=');
    if (equals == std::wstring::npos) return arguments;
    std::wstring path = text.substr(equals + 1);
    if (path.empty() || path.size() >= MAX_PATH_CHARS) return arguments;
    arguments.bDeleteFile = true;
    arguments.deletePath = path;
    return arguments;
}

std::wstring BuildCommandLine(const std::wstring& program, const std::wstring& argument, size_t nBufferChars)
{
    std::wstring line = L"\"" + program + L"\" " + argument;
    if (line.size() + 1 > nBufferChars) return std::wstring();
    return line;
}

std::wstring FileNamePart(const std::wstring& path)
{
    size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

std::wstring FolderPart(const std::wstring& path)
{
    size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

bool IsOnDriveC(const std::wstring& path)
{
    return !path.empty() && (path[0] == L'c' || path[0] == L'C');
}

bool IsForwardedInputMessage(unsigned int message)
{
    return (message >= 0x0100 && message <= 0x0109) || (message >= 0x0200 && message <= 0x020D);
}
