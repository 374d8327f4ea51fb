// Test helper: stands for a second process of the same folder by owning the
// named mutex for the given milliseconds; creates MARKER when it holds it.
//   hold_mutex.exe NAME MILLISECONDS MARKER
#include <windows.h>

#include <cwchar>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 4) return 2;
    HANDLE mutex = CreateMutexW(nullptr, TRUE, argv[1]);
    if (!mutex) return 1;
    HANDLE marker = CreateFileW(argv[3], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
    Sleep(static_cast<DWORD>(wcstoul(argv[2], nullptr, 10)));
    CloseHandle(mutex);
    return 0;
}
