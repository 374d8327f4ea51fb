#include "ui/skin/skin_pixels.h"

#include <webp/decode.h>

#include <new>

void ConvertRgbaToPremultipliedBgra(const uint8_t* rgba, uint8_t* bgra, size_t nPixels)
{
    for (size_t i = 0; i < nPixels; ++i) {
        const uint8_t* s = rgba + 4 * i;
        uint8_t* d = bgra + 4 * i;
        unsigned int a = s[3];
        d[0] = static_cast<uint8_t>(s[2] * a / 255);
        d[1] = static_cast<uint8_t>(s[1] * a / 255);
        d[2] = static_cast<uint8_t>(s[0] * a / 255);
        d[3] = static_cast<uint8_t>(a);
    }
}

DecodeResult DecodeSkinPicture(const uint8_t* data, size_t size, DecodedPicture* out)
{
    *out = DecodedPicture();
    if (!data || size < 12) return DecodeResult::TOO_SHORT;
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config)) return DecodeResult::VERSION_MISMATCH;
    if (WebPGetFeatures(data, size, &config.input) != VP8_STATUS_OK) return DecodeResult::BAD_FEATURES;
    config.output.colorspace = MODE_RGBA;
    if (WebPDecode(data, size, &config) != VP8_STATUS_OK) {
        WebPFreeDecBuffer(&config.output);
        return DecodeResult::BAD_DATA;
    }
    DecodeResult result = DecodeResult::OK;
    int width = config.output.width;
    int height = config.output.height;
    size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
    try {
        out->bgra.resize(pixels * 4);
        ConvertRgbaToPremultipliedBgra(config.output.u.RGBA.rgba, out->bgra.data(), pixels);
        out->width = width;
        out->height = height;
    } catch (const std::bad_alloc&) {
        *out = DecodedPicture();
        result = DecodeResult::NO_MEMORY;
    }
    WebPFreeDecBuffer(&config.output);
    return result;
}

ButtonFace ChooseButtonFace(bool bEnabled, bool bPressed, bool bHover)
{
    if (!bEnabled) return ButtonFace::DISABLED;
    if (bPressed) return ButtonFace::PRESSED;
    if (bHover) return ButtonFace::HOVER;
    return ButtonFace::NORMAL;
}
