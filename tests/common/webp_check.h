// Checks one encoded skin picture against its catalog entry: it decodes, to
// the listed size, and has an alpha channel exactly when the entry says so.
#pragma once

#include <gtest/gtest.h>
#include <webp/decode.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "skin_catalog.h"

inline void ExpectPictureMatches(const uint8_t* data, size_t size, const SkinPicture& picture)
{
    SCOPED_TRACE("picture " + SkinPictureLabel(picture));
    ASSERT_GE(size, 12u);
    ASSERT_EQ(0, memcmp(data, "RIFF", 4));
    ASSERT_EQ(0, memcmp(data + 8, "WEBP", 4));

    WebPBitstreamFeatures features;
    ASSERT_EQ(VP8_STATUS_OK, WebPGetFeatures(data, size, &features));
    EXPECT_EQ(picture.alpha, features.has_alpha != 0);
    EXPECT_EQ(1, features.format) << "expected a lossy stream (1), not lossless (2)";

    int width = 0;
    int height = 0;
    uint8_t* rgba = WebPDecodeRGBA(data, size, &width, &height);
    ASSERT_NE(nullptr, rgba);
    EXPECT_EQ(picture.width, width);
    EXPECT_EQ(picture.height, height);

    size_t translucent = 0;
    for (size_t i = 0; i < static_cast<size_t>(width) * height; ++i) {
        if (rgba[4 * i + 3] != 255) ++translucent;
    }
    if (picture.alpha) {
        EXPECT_GT(translucent, 0u) << "an alpha picture with no translucent pixel";
    } else {
        EXPECT_EQ(0u, translucent);
    }
    WebPFree(rgba);
}
