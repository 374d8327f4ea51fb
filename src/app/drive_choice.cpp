#include "app/drive_choice.h"

std::vector<std::wstring> SplitDriveStrings(const wchar_t* buffer, size_t length)
{
    std::vector<std::wstring> roots;
    for (size_t i = 0; i < length / 4; ++i) {
        const wchar_t* root = buffer + 4 * i;
        size_t n = 0;
        while (n < 3 && root[n] != L'\0') ++n;
        roots.emplace_back(root, n);
    }
    return roots;
}

void ChooseTargetDrive(IDriveQuery& drives, wchar_t* pLetter)
{
    uint64_t best = 0;
    for (const std::wstring& root : drives.LogicalDriveRoots()) {
        if (root.empty() || drives.DriveType(root) != DRIVE_TYPE_FIXED) continue;
        if (root[0] == L'c' || root[0] == L'C') continue;
        uint64_t free = 0;
        if (drives.FreeBytesForUser(root, &free) && free > best) {
            best = free;
            *pLetter = root[0];
        }
        drives.Pause();
    }
}
