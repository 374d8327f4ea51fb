// The shell's decisions: the argument grammar, command lines, path parts,
// the clean-up retries and the desktop shortcut's paths.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

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
