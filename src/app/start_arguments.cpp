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
