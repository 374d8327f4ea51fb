// Skin pictures without a window: the premultiplying conversion, decoding
// of the committed pictures, the button's face choice.
#include "ui/skin/skin_pixels.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <vector>

#include "skin_catalog.h"
#include <webp/decode.h>

namespace {

std::vector<uint8_t> Convert(std::vector<uint8_t> rgba)
{
    std::vector<uint8_t> bgra(rgba.size());
    ConvertRgbaToPremultipliedBgra(rgba.data(), bgra.data(), rgba.size() / 4);
    return bgra;
}

TEST(SkinPixels, PremultipliesWithTruncationAndReorders)
{
    EXPECT_EQ((std::vector<uint8_t>{128, 128, 128, 128}), Convert({255, 255, 255, 128}));
    EXPECT_EQ((std::vector<uint8_t>{0, 0, 0, 0}), Convert({200, 100, 50, 0}));
    EXPECT_EQ((std::vector<uint8_t>{30, 20, 10, 255}), Convert({10, 20, 30, 255}));   // opaque: reordered only
    EXPECT_EQ((std::vector<uint8_t>{39, 78, 0, 100}), Convert({1, 200, 100, 100}));    // 200*100/255 = 78
    EXPECT_EQ((std::vector<uint8_t>{0, 0, 0, 254}), Convert({1, 1, 1, 254}));          // 1*254/255 = 0
    EXPECT_EQ((std::vector<uint8_t>{3, 2, 1, 255, 0, 0, 0, 0}), Convert({1, 2, 3, 255, 9, 9, 9, 0}));
}

TEST(SkinPixels, EveryCommittedPictureDecodesToItsSize)
{
    for (const SkinPicture& entry : SkinCatalog()) {
        std::ifstream in(std::string(QUILLET_SOURCE_DIR "/resources/") + SkinPictureFile(entry), std::ios::binary);
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        DecodedPicture picture;
        ASSERT_EQ(DecodeResult::OK, DecodeSkinPicture(bytes.data(), bytes.size(), &picture))
            << SkinPictureLabel(entry);
        EXPECT_EQ(entry.width, picture.width) << SkinPictureLabel(entry);
        EXPECT_EQ(entry.height, picture.height) << SkinPictureLabel(entry);
        ASSERT_EQ(static_cast<size_t>(entry.width) * entry.height * 4, picture.bgra.size());
        if (!entry.alpha) {
            for (size_t i = 3; i < picture.bgra.size(); i += 4) ASSERT_EQ(255, picture.bgra[i]);
        }
        // Premultiplied: no colour exceeds its alpha.
        for (size_t i = 0; i < picture.bgra.size(); i += 4) {
            ASSERT_LE(picture.bgra[i], picture.bgra[i + 3]);
            ASSERT_LE(picture.bgra[i + 1], picture.bgra[i + 3]);
            ASSERT_LE(picture.bgra[i + 2], picture.bgra[i + 3]);
        }
    }
}

TEST(SkinPixels, LauncherBackgroundHasTransparentCorners)
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

TEST(SkinPixels, BadInputGivesAnEmptyPicture)
{
    DecodedPicture picture;
    EXPECT_EQ(DecodeResult::TOO_SHORT, DecodeSkinPicture(nullptr, 0, &picture));
    const uint8_t shortFile[] = "RIFF\0\0\0\0WEB";
    EXPECT_EQ(DecodeResult::TOO_SHORT, DecodeSkinPicture(shortFile, 11, &picture));
    std::vector<uint8_t> garbage(100, 0x41);
    EXPECT_EQ(DecodeResult::BAD_FEATURES, DecodeSkinPicture(garbage.data(), garbage.size(), &picture));

    std::ifstream in(QUILLET_SOURCE_DIR "/resources/webp/296.webp", std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    bytes.resize(bytes.size() / 2);   // a cut file
    EXPECT_NE(DecodeResult::OK, DecodeSkinPicture(bytes.data(), bytes.size(), &picture));
    EXPECT_EQ(0, picture.width);
    EXPECT_EQ(0, picture.height);
    EXPECT_TRUE(picture.bgra.empty());
}

TEST(ButtonFace, DisabledThenPressedThenHover)
{
    EXPECT_EQ(ButtonFace::DISABLED, ChooseButtonFace(false, true, true));
    EXPECT_EQ(ButtonFace::DISABLED, ChooseButtonFace(false, false, false));
    EXPECT_EQ(ButtonFace::PRESSED, ChooseButtonFace(true, true, true));
    EXPECT_EQ(ButtonFace::PRESSED, ChooseButtonFace(true, true, false));
    EXPECT_EQ(ButtonFace::HOVER, ChooseButtonFace(true, false, true));
    EXPECT_EQ(ButtonFace::NORMAL, ChooseButtonFace(true, false, false));
}

}  // namespace
