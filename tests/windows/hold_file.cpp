// Test helper: opens a file without any sharing, creates "<file>.held" to say
// so, holds the file for the given milliseconds, then closes it.
//   hold_file.exe PATH MILLISECONDS
#include <windows.h>

#include <cwchar>
#include <string>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3) return 2;
    HANDLE file = CreateFileW(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    std::wstring marker = std::wstring(argv[1]) + L".held";
    HANDLE held = CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    Sleep(static_cast<DWORD>(wcstoul(argv[2], nullptr, 10)));
    CloseHandle(file);
    return 0;
}
