// The drive a copy on drive C moves to, chosen over a fake list of drives.
#include "app/drive_choice.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

struct FakeDrive {
    unsigned int type;
    bool bReadable;
    uint64_t free;
};

class FakeDrives : public IDriveQuery {
public:
    explicit FakeDrives(std::vector<std::pair<std::wstring, FakeDrive>> drives) : m_drives(std::move(drives)) {}

    std::vector<std::wstring> LogicalDriveRoots() override
    {
        std::vector<std::wstring> roots;
        for (const auto& drive : m_drives) roots.push_back(drive.first);
        return roots;
    }
    unsigned int DriveType(const std::wstring& root) override { return Find(root).type; }
    bool FreeBytesForUser(const std::wstring& root, uint64_t* pnFree) override
    {
        ++m_nQueried;
        *pnFree = Find(root).free;
        return Find(root).bReadable;
    }
    void Pause() override { ++m_nPauses; }

    int m_nQueried = 0;
    int m_nPauses = 0;

private:
    const FakeDrive& Find(const std::wstring& root)
    {
        for (const auto& drive : m_drives) {
            if (drive.first == root) return drive.second;
        }
        static const FakeDrive none = {0, false, 0};
        return none;
    }
    std::vector<std::pair<std::wstring, FakeDrive>> m_drives;
};

const unsigned int REMOVABLE = 2, FIXED = 3, REMOTE = 4, CDROM = 5, RAMDISK = 6;

wchar_t Choose(FakeDrives& drives)
{
    wchar_t letter = L'\0';
    ChooseTargetDrive(drives, &letter);
    return letter;
}

TEST(DriveChoice, MostFreeSpaceWinsAndTheFirstOfEqualOnes)
{
    FakeDrives equal({{L"C:\\", {FIXED, true, 900}}, {L"D:\\", {FIXED, true, 500}}, {L"E:\\", {FIXED, true, 500}}});
    EXPECT_EQ(L'D', Choose(equal));
    EXPECT_EQ(2, equal.m_nPauses);   // one pause per examined drive, none for C

    FakeDrives larger({{L"C:\\", {FIXED, true, 1}}, {L"D:\\", {FIXED, true, 5}}, {L"E:\\", {FIXED, true, 6}}});
    EXPECT_EQ(L'E', Choose(larger));
}

TEST(DriveChoice, OnlyFixedDrivesOtherThanCWithReadableFreeSpace)
{
    FakeDrives others({{L"C:\\", {FIXED, true, 10}}, {L"E:\\", {REMOVABLE, true, 1000}},
                       {L"F:\\", {REMOTE, true, 1000}}, {L"G:\\", {CDROM, true, 1000}},
                       {L"H:\\", {RAMDISK, true, 1000}}});
    EXPECT_EQ(L'\0', Choose(others));
    EXPECT_EQ(0, others.m_nQueried);

    FakeDrives lowerC({{L"c:\\", {FIXED, true, 1000}}});
    EXPECT_EQ(L'\0', Choose(lowerC));

    FakeDrives full({{L"C:\\", {FIXED, true, 10}}, {L"D:\\", {FIXED, true, 0}}});
    EXPECT_EQ(L'\0', Choose(full));

    FakeDrives unreadable({{L"D:\\", {FIXED, false, 1000}}, {L"E:\\", {FIXED, true, 3}}});
    EXPECT_EQ(L'E', Choose(unreadable));

    FakeDrives none({});
    wchar_t letter = L'x';
    ChooseTargetDrive(none, &letter);
    EXPECT_EQ(L'x', letter);   // left as it was

    FakeDrives lowerD({{L"d:\\", {FIXED, true, 7}}});
    EXPECT_EQ(L'd', Choose(lowerD));   // spelt as the system spells it
}

TEST(DriveChoice, SplitsDriveStringsByFours)
{
    const wchar_t buffer[] = L"C:\\\0D:\\\0E:\\\0";
    EXPECT_EQ((std::vector<std::wstring>{L"C:\\", L"D:\\", L"E:\\"}), SplitDriveStrings(buffer, 12));
    EXPECT_EQ((std::vector<std::wstring>{L"C:\\", L"D:\\"}), SplitDriveStrings(buffer, 11));
    EXPECT_TRUE(SplitDriveStrings(buffer, 3).empty());
}

}  // namespace
