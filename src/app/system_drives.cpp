#include "app/system_drives.h"

#include "app/path_text.h"

std::vector<std::wstring> CSystemDrives::LogicalDriveRoots()
{
    wchar_t buffer[MAX_PATH_CHARS] = {};
    DWORD length = GetLogicalDriveStringsW(MAX_PATH_CHARS, buffer);
    if (length >= MAX_PATH_CHARS) length = 0;  // the buffer was too small: nothing usable
    return SplitDriveStrings(buffer, length);
}

unsigned int CSystemDrives::DriveType(const std::wstring& root)
{
    return GetDriveTypeW(root.c_str());
}

bool CSystemDrives::FreeBytesForUser(const std::wstring& root, uint64_t* pnFree)
{
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExW(root.c_str(), &available, nullptr, nullptr)) return false;
    *pnFree = available.QuadPart;
    return true;
}

void CSystemDrives::Pause()
{
    Sleep(100);
}
