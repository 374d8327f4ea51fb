// Decoding of skin pictures and the choices that need no window: libwebp
// decodes to RGBA, which becomes the premultiplied BGRA that layered windows
// expect; a picture button picks its face from its state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Premultiplies and reorders: B = b*a/255, G = g*a/255, R = r*a/255, A = a,
// each quotient truncated.
void ConvertRgbaToPremultipliedBgra(const uint8_t* rgba, uint8_t* bgra, size_t nPixels);

struct DecodedPicture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> bgra;   // width * height * 4 bytes, rows top to bottom
};

enum class DecodeResult { OK, TOO_SHORT, VERSION_MISMATCH, BAD_FEATURES, BAD_DATA, NO_MEMORY };

// Decodes a whole WebP file: the decoder's configuration, its features, a
// decode to RGBA in the decoder's own buffer, the conversion. The size is the
// decoded one, not the file header's. Anything but OK leaves out empty.
DecodeResult DecodeSkinPicture(const uint8_t* data, size_t size, DecodedPicture* out);

enum class ButtonFace { NORMAL, HOVER, PRESSED, DISABLED };

// The first that holds: disabled, pressed, hover, normal.
ButtonFace ChooseButtonFace(bool bEnabled, bool bPressed, bool bHover);
