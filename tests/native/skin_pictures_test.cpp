// The committed skin pictures decode to the sizes the windows are built for.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <vector>

#include "skin_catalog.h"
#include "webp_check.h"

TEST(SkinPictures, EveryCommittedPictureDecodesToItsSize)
{
    for (const SkinPicture& picture : SkinCatalog()) {
        std::string path = std::string(QUILLET_SOURCE_DIR "/resources/") + SkinPictureFile(picture);
        std::ifstream in(path, std::ios::binary);
        ASSERT_TRUE(in) << path;
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        ExpectPictureMatches(bytes.data(), bytes.size(), picture);
    }
}

TEST(SkinPictures, LauncherBackgroundHasTransparentCorners)
{
    std::ifstream in(QUILLET_SOURCE_DIR "/resources/webp/271.webp", std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    int width = 0;
    int height = 0;
    uint8_t* rgba = WebPDecodeRGBA(bytes.data(), bytes.size(), &width, &height);
    ASSERT_NE(nullptr, rgba);
    auto alpha = [&](int x, int y) { return rgba[4 * (static_cast<size_t>(y) * width + x) + 3]; };
    EXPECT_EQ(0, alpha(0, 0));
    EXPECT_EQ(0, alpha(width - 1, 0));
    EXPECT_EQ(0, alpha(0, height - 1));
    EXPECT_EQ(0, alpha(width - 1, height - 1));
    EXPECT_EQ(255, alpha(width / 2, height / 2));
    WebPFree(rgba);
}
