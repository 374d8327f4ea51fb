// Skin pictures from the program's own resources (type "WEBP") as
// premultiplied 32-bit GDI bitmaps.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <vector>

// One decoded picture. An empty one has a null bitmap and size 0 x 0.
struct SkinBitmap {
    HBITMAP bitmap = nullptr;
    int32_t width = 0;
    int32_t height = 0;
};

// The bytes of a WEBP resource of the running program; empty when it is
// missing, empty or cannot be loaded. The lookup passes no language.
std::vector<uint8_t> LoadSkinResource(LPCWSTR id);

// Fills record from the resource: decode, convert, CreateBitmap. Any failure
// leaves the record empty; only a decoder that cannot be initialised writes
// "Library version mismatch!\n" to the standard error stream.
bool CreateSkinBitmap(SkinBitmap* record, LPCWSTR id);

// The slot that a button holds per face, and the game window for its title
// strip. It owns the bitmap it loaded.
class SkinImage {
public:
    SkinImage() = default;
    ~SkinImage() { Release(); }
    SkinImage(const SkinImage&) = delete;
    SkinImage& operator=(const SkinImage&) = delete;

    // Loads the picture (replacing what the slot held); succeeds in every
    // case, an unknown id giving an empty picture.
    bool Load(LPCWSTR id);
    // Deletes the bitmap this slot created; a slot without one releases nothing.
    void Release();

    HBITMAP GetBitmap() const { return m_pOwner ? m_pOwner->bitmap : nullptr; }
    int32_t GetWidth() const { return m_pOwner ? m_pOwner->width : 0; }
    int32_t GetHeight() const { return m_pOwner ? m_pOwner->height : 0; }

private:
    std::unique_ptr<SkinBitmap> m_pOwner;
};
