// The drives as the system reports them, for the drive choice.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "app/drive_choice.h"

// Pauses 100 ms after each drive it was asked about.
class CSystemDrives : public IDriveQuery {
public:
    std::vector<std::wstring> LogicalDriveRoots() override;
    unsigned int DriveType(const std::wstring& root) override;
    bool FreeBytesForUser(const std::wstring& root, uint64_t* pnFree) override;
    void Pause() override;
};
