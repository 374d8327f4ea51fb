#include "app/path_text.h"

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
