// The launcher's decision: the capture of the play page.
#include <gtest/gtest.h>

#include <string>

#include "ui/launcher/game_url_capture.h"

namespace {

TEST(GameUrlCapture, PlayPageIsRecognisedAndExtended)
{
    const std::wstring play = L"http://www.zelmic.example/full/play_gamecode/?client=1&sid=42&sign=AbC%2F";
    std::wstring game;
    ASSERT_TRUE(ComposeGameUrl(play, &game));
    EXPECT_EQ(play + L"&clientlogintype=1&remark=http://127.0.0.1:12315/wz_cdn/cdn/", game);

    // A frame's or any other navigation to the play page counts the same; an
    // address with characters outside ASCII comes through unchanged.
    const std::wstring wide = L"http://站点.example/full/play_gamecode/?client=1&name=玩家";
    ASSERT_TRUE(ComposeGameUrl(wide, &game));
    EXPECT_EQ(wide + GAME_URL_ADDITION, game);
}

TEST(GameUrlCapture, OtherAddressesAreNotCaptured)
{
    std::wstring game = L"unchanged";
    for (const wchar_t* address : {
             L"/full/play_gamecode/?client=1&sid=1",                       // at position 0
             L"http://x/full/PLAY_GAMECODE/?client=1",                     // another letter case
             L"http://x/full/play_gamecode/?sid=1&client=1",               // client=1 not right after the path
             L"http://x/full/play_gamecode/?client=2",
             L"http://x/client/gamecode/kolt/",
             L"",
         }) {
        EXPECT_FALSE(ComposeGameUrl(address, &game)) << address;
    }
    EXPECT_EQ(L"unchanged", game);
}

TEST(GameUrlCapture, AddressTooLongForTheWorkingBufferIsNoMatch)
{
    std::wstring prefix = L"http://x/full/play_gamecode/?client=1&pad=";
    size_t room = MAX_GAME_URL_CHARS - 1 - std::wstring(GAME_URL_ADDITION).size();
    std::wstring fits = prefix + std::wstring(room - prefix.size(), L'a');
    std::wstring game;
    EXPECT_TRUE(ComposeGameUrl(fits, &game));
    EXPECT_EQ(MAX_GAME_URL_CHARS - 1, game.size());
    EXPECT_FALSE(ComposeGameUrl(fits + L"a", &game));
}

}  // namespace
