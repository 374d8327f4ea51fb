// The choice of the drive to which the program moves itself from drive C:
// the fixed drive other than C with the most free space for the user.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

const unsigned int DRIVE_TYPE_FIXED = 3;

// What the choice asks of the system, one drive at a time.
class IDriveQuery {
public:
    virtual ~IDriveQuery() = default;
    // The logical drive strings as the system lists them ("C:\", "D:\", ...).
    virtual std::vector<std::wstring> LogicalDriveRoots() = 0;
    virtual unsigned int DriveType(const std::wstring& root) = 0;
    // Free bytes available to the calling user; false when unreadable.
    virtual bool FreeBytesForUser(const std::wstring& root, uint64_t* pnFree) = 0;
    // The pause after each examined drive.
    virtual void Pause() = 0;
};

// Splits a buffer of drive strings, each 4 characters with its terminator,
// into its roots: length / 4 of them (integer division).
std::vector<std::wstring> SplitDriveStrings(const wchar_t* buffer, size_t length);

// Writes the chosen drive's letter, as the system spells it, to *pLetter;
// leaves it unchanged when no drive qualifies. Drives other than fixed ones,
// drive C (either case), unreadable and zero free space never qualify; of
// equal free space the first listed wins.
void ChooseTargetDrive(IDriveQuery& drives, wchar_t* pLetter);
