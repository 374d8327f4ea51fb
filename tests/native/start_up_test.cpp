// The shell's decisions: the argument grammar, command lines, the drive
// choice, the clean-up retries and the desktop shortcut's paths.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "app/drive_choice.h"
#include "app/start_arguments.h"
#include "app/start_up_rules.h"

namespace {

TEST(StartArguments, ReopenIsExactAndCaseSensitive)
{
    EXPECT_TRUE(ParseStartArguments(L"re_open").bReopen);
    for (const wchar_t* text : {L"RE_OPEN", L"Re_open", L"re_open ", L" re_open", L"re_open x", L"re_ope",
                                L"", L"reopen"}) {
        StartArguments arguments = ParseStartArguments(text);
        EXPECT_FALSE(arguments.bReopen) << text;
        EXPECT_FALSE(arguments.bDeleteFile) << text;
    }
}

TEST(StartArguments, DelfileTakesThePathAfterTheLastEquals)
{
    struct Case {
        const wchar_t* text;
        bool bDelete;
        const wchar_t* path;
    };
    const Case cases[] = {
        {L"delfile=C:\\Games\\Quillet.exe", true, L"C:\\Games\\Quillet.exe"},
        {L"delfileXYZ=C:\\old.exe", true, L"C:\\old.exe"},          // only 7 letters are tested
        {L"delfile=C:\\a=b\\Quillet.exe", true, L"b\\Quillet.exe"},  // the last "=" wins
        {L"delfile=C:\\My Games\\Quillet.exe", true, L"C:\\My Games\\Quillet.exe"},
        {L"delfile", false, L""},
        {L"delfile=", false, L""},
        {L"Delfile=C:\\x.exe", false, L""},
        {L"delfil=C:\\x.exe", false, L""},
    };
    for (const Case& c : cases) {
        StartArguments arguments = ParseStartArguments(c.text);
        EXPECT_EQ(c.bDelete, arguments.bDeleteFile) << c.text;
        EXPECT_EQ(c.path, arguments.deletePath) << c.text;
        EXPECT_FALSE(arguments.bReopen) << c.text;
    }
}

TEST(StartArguments, OverlongDelfilePathIsNeverActedOn)
{
    std::wstring fits(259, L'a');
    EXPECT_TRUE(ParseStartArguments(L"delfile=" + fits).bDeleteFile);
    std::wstring tooLong(260, L'a');
    StartArguments arguments = ParseStartArguments(L"delfile=" + tooLong);
    EXPECT_FALSE(arguments.bDeleteFile);
    EXPECT_TRUE(arguments.deletePath.empty());
}

TEST(CommandLine, QuotesTheProgramAndFitsTheBuffer)
{
    EXPECT_EQ(L"\"D:\\mbrl\\Quillet.exe\" delfile=C:\\My Games\\Quillet.exe",
              BuildCommandLine(L"D:\\mbrl\\Quillet.exe", L"delfile=C:\\My Games\\Quillet.exe", 256));
    EXPECT_EQ(L"\"C:\\Program Files\\Q\\Quillet.exe\" re_open",
              BuildCommandLine(L"C:\\Program Files\\Q\\Quillet.exe", L"re_open", 256));

    // 255 characters and the terminator fit; one more does not.
    std::wstring program(255 - 2 - 1 - 7, L'p');
    EXPECT_EQ(255u, BuildCommandLine(program, L"re_open", 256).size());
    EXPECT_TRUE(BuildCommandLine(program + L"p", L"re_open", 256).empty());
}

TEST(Paths, FileAndFolderParts)
{
    EXPECT_EQ(L"Quillet.exe", FileNamePart(L"C:\\Games\\v1.2\\Quillet.exe"));
    EXPECT_EQ(L"C:\\Games\\v1.2", FolderPart(L"C:\\Games\\v1.2\\Quillet.exe"));
    EXPECT_EQ(L"Quillet.exe", FileNamePart(L"Quillet.exe"));
    EXPECT_EQ(L"", FolderPart(L"Quillet.exe"));
    EXPECT_TRUE(IsOnDriveC(L"C:\\x"));
    EXPECT_TRUE(IsOnDriveC(L"c:\\x"));
    EXPECT_FALSE(IsOnDriveC(L"D:\\x"));
    EXPECT_FALSE(IsOnDriveC(L"\\\\server\\share\\x"));
    EXPECT_FALSE(IsOnDriveC(L""));
}

TEST(GameLoop, ForwardsExactlyKeyboardAndMouseMessages)
{
    for (unsigned int message : {0x0100u, 0x0104u, 0x0109u, 0x0200u, 0x0201u, 0x020Au, 0x020Du}) {
        EXPECT_TRUE(IsForwardedInputMessage(message)) << message;
    }
    for (unsigned int message : {0x00FFu, 0x010Au, 0x01FFu, 0x020Eu, 0x0000u, 0x0113u, 0x037Fu}) {
        EXPECT_FALSE(IsForwardedInputMessage(message)) << message;
    }
}

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

TEST(OldFileCleanup, RetriesOnlyAfterAnUpdate)
{
    struct Case {
        bool bReopen;
        int nFailures;      // tries that fail before one succeeds
        int nTries;
        int nSleeps;
        bool bDeleted;
    };
    const Case cases[] = {
        {false, 0, 1, 0, true},  {false, 1, 1, 0, false}, {true, 0, 1, 0, true},
        {true, 2, 3, 2, true},   {true, 3, 4, 3, true},   {true, 10, 4, 3, false},
    };
    for (const Case& c : cases) {
        int tries = 0;
        std::vector<unsigned int> sleeps;
        bool deleted = DeleteWithRetries(
            c.bReopen, [&] { return ++tries > c.nFailures; }, [&](unsigned int ms) { sleeps.push_back(ms); });
        EXPECT_EQ(c.nTries, tries);
        EXPECT_EQ(static_cast<size_t>(c.nSleeps), sleeps.size());
        for (unsigned int ms : sleeps) EXPECT_EQ(1000u, ms);
        EXPECT_EQ(c.bDeleted, deleted);
    }
}

TEST(DesktopShortcut, PathsAndRefusals)
{
    ShortcutPlan plan;
    ASSERT_TRUE(PlanDesktopShortcut(L"C:\\Users\\me\\Desktop", L"D:\\mbrl", L"Quillet.exe", false, &plan));
    EXPECT_EQ(L"C:\\Users\\me\\Desktop\\ZelmicVantorra.lnk", plan.linkPath);
    EXPECT_EQ(L"D:\\mbrl\\Quillet.exe", plan.target);
    EXPECT_EQ(L"D:\\mbrl", plan.workingDir);

    EXPECT_FALSE(PlanDesktopShortcut(L"C:\\Users\\me\\Desktop", L"c:\\users\\me\\desktop", L"Quillet.exe", true,
                                     &plan));
    std::wstring deep = L"D:\\" + std::wstring(250, L'x');
    EXPECT_FALSE(PlanDesktopShortcut(L"C:\\Users\\me\\Desktop", deep, L"Quillet.exe", false, &plan));
    // A desktop that could not be looked up, a program path that did not fit.
    EXPECT_FALSE(PlanDesktopShortcut(L"", L"D:\\mbrl", L"Quillet.exe", false, &plan));
    EXPECT_FALSE(PlanDesktopShortcut(L"C:\\Users\\me\\Desktop", L"D:\\mbrl", L"", false, &plan));
}

}  // namespace
