// WebP bytes through the skin decoder and the pixel conversion.
#include <cstddef>
#include <cstdint>

#include "ui/skin/skin_pixels.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    DecodedPicture picture;
    DecodeResult result = DecodeSkinPicture(data, size, &picture);
    if (result != DecodeResult::OK) {
        if (picture.width || picture.height || !picture.bgra.empty()) __builtin_trap();
        return 0;
    }
    if (picture.bgra.size() != static_cast<size_t>(picture.width) * picture.height * 4) __builtin_trap();
    for (size_t i = 0; i < picture.bgra.size(); i += 4) {
        uint8_t alpha = picture.bgra[i + 3];
        if (picture.bgra[i] > alpha || picture.bgra[i + 1] > alpha || picture.bgra[i + 2] > alpha) __builtin_trap();
    }
    return 0;
}
