// The self-update's decisions: the version file's values, the version test,
// the mutex name and the swap of the program files.
#include "app/update_rules.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

TEST(GetKeyValue, FirstPlaceWhereTheKeyIsFollowedByEquals)
{
    const char* lf = "version=1.0.6\nmd5=0123456789abcdef0123456789abcdef\nexe=Quillet_106.exe\n";
    const char* crlf = "version=1.0.6\r\nmd5=0123456789abcdef0123456789abcdef\r\nexe=Quillet_106.exe\r\n";
    for (const char* key : {"version", "md5", "exe"}) {
        EXPECT_EQ(GetKeyValue(lf, key), GetKeyValue(crlf, key)) << key;
    }
    EXPECT_EQ("1.0.6", GetKeyValue(lf, "version"));
    EXPECT_EQ("Quillet_106.exe", GetKeyValue(crlf, "exe"));

    struct Case {
        const char* text;
        const char* key;
        const char* value;
    };
    const Case cases[] = {
        {"subversion=9.9\nversion=1.0.6\n", "version", "9.9"},      // inside a longer key
        {"oldmd5=aaaa\nmd5=bbbb\n", "md5", "aaaa"},                 // the first match wins
        {"exe=a=b.exe\n", "exe", "a=b.exe"},                        // a value may hold "="
        {"version 1.0.6\nversion=\n", "version", ""},
        {"version=1.0.5 \n", "version", "1.0.5 "},                  // nothing trimmed
        {"md5=abc", "md5", "abc"},                                  // ends at the terminator
        {"name=x\n", "version", ""},                                // missing key
        {"", "md5", ""},
        {"versionversion=7\n", "version", "7"},
        {"exex=1\nexe=2\n", "exe", "2"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.value, GetKeyValue(c.text, c.key)) << c.text;
}

TEST(VersionTest, ComparesTheBuiltInLengthOnly)
{
    const std::wstring builtIn = L"1.0.5";
    EXPECT_FALSE(IsAdvertisedVersionNew(builtIn, L"1.0.5"));
    EXPECT_FALSE(IsAdvertisedVersionNew(builtIn, L"1.0.50"));
    EXPECT_FALSE(IsAdvertisedVersionNew(builtIn, L"1.0.5 "));
    EXPECT_TRUE(IsAdvertisedVersionNew(builtIn, L"1.0.4"));    // not an ordering
    EXPECT_TRUE(IsAdvertisedVersionNew(builtIn, L"1.0.6"));
    EXPECT_TRUE(IsAdvertisedVersionNew(builtIn, L"1.0."));     // shorter differs at its end
    EXPECT_TRUE(IsAdvertisedVersionNew(builtIn, L""));
    EXPECT_TRUE(IsAdvertisedVersionNew(builtIn, L" 1.0.5"));
}

TEST(MutexName, FolderWithSeparatorsColonsAndDotsReplaced)
{
    EXPECT_EQ(L"D__mbrl", MutexNameForFolder(L"D:\\mbrl"));
    EXPECT_EQ(L"C__Games_v1_2", MutexNameForFolder(L"C:\\Games\\v1.2"));
    EXPECT_EQ(L"C__a_b_c", MutexNameForFolder(L"C:/a/b\\c"));
}

// Files as a map from name to content, with moves that fail like MoveFile:
// a missing source or an existing target.
struct FakeFolder {
    std::map<std::wstring, std::string> files;
    std::vector<std::wstring> failTargets;   // moves onto these fail anyway

    ProgramFileMoves Moves()
    {
        ProgramFileMoves moves;
        moves.move = [this](const std::wstring& from, const std::wstring& to) {
            for (const std::wstring& target : failTargets) {
                if (target == to) return false;
            }
            if (!files.count(from) || files.count(to)) return false;
            files[to] = files[from];
            files.erase(from);
            return true;
        };
        return moves;
    }
};

TEST(ProgramSwap, BothMovesPutTheNewProgramInPlace)
{
    FakeFolder folder;
    folder.files = {{L"C:\\Q\\Quillet.exe", "old"}, {L"Quillet.exe.tmp", "new"}};
    // On a real disk the full path and the name relative to the current
    // directory are the same file; the fake keeps them apart.
    EXPECT_TRUE(SwapProgramFiles(folder.Moves(), L"C:\\Q\\Quillet.exe", L"Quillet.exe"));
    EXPECT_EQ("new", folder.files[L"Quillet.exe"]);
    EXPECT_EQ("old", folder.files[L"Quillet.exe.old"]);
    EXPECT_FALSE(folder.files.count(L"Quillet.exe.tmp"));
}

TEST(ProgramSwap, AnOldFileStillThereStopsBeforeAnyChange)
{
    FakeFolder folder;
    folder.files = {{L"C:\\Q\\Quillet.exe", "old"}, {L"Quillet.exe.tmp", "new"}, {L"Quillet.exe.old", "older"}};
    EXPECT_FALSE(SwapProgramFiles(folder.Moves(), L"C:\\Q\\Quillet.exe", L"Quillet.exe"));
    EXPECT_EQ("old", folder.files[L"C:\\Q\\Quillet.exe"]);
    EXPECT_EQ("new", folder.files[L"Quillet.exe.tmp"]);   // kept for a later start
    EXPECT_EQ("older", folder.files[L"Quillet.exe.old"]);
}

TEST(ProgramSwap, AFailedSecondMovePutsTheOldFileBack)
{
    FakeFolder folder;
    folder.files = {{L"C:\\Q\\Quillet.exe", "old"}, {L"Quillet.exe.tmp", "new"}};
    folder.failTargets = {L"Quillet.exe"};
    EXPECT_FALSE(SwapProgramFiles(folder.Moves(), L"C:\\Q\\Quillet.exe", L"Quillet.exe"));
    EXPECT_EQ("old", folder.files[L"C:\\Q\\Quillet.exe"]);
    EXPECT_FALSE(folder.files.count(L"Quillet.exe.old"));
    EXPECT_EQ("new", folder.files[L"Quillet.exe.tmp"]);
}

}  // namespace
