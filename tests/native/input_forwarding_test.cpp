// Which messages the game phase's loop offers to the browser host first.
#include "app/input_forwarding.h"

#include <gtest/gtest.h>

namespace {

TEST(GameLoop, ForwardsExactlyKeyboardAndMouseMessages)
{
    for (unsigned int message : {0x0100u, 0x0104u, 0x0109u, 0x0200u, 0x0201u, 0x020Au, 0x020Du}) {
        EXPECT_TRUE(IsForwardedInputMessage(message)) << message;
    }
    for (unsigned int message : {0x00FFu, 0x010Au, 0x01FFu, 0x020Eu, 0x0000u, 0x0113u, 0x037Fu}) {
        EXPECT_FALSE(IsForwardedInputMessage(message)) << message;
    }
}

}  // namespace
