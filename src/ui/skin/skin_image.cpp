#include "ui/skin/skin_image.h"

#include <cstdio>
#include <cstring>

#include "ui/skin/skin_pixels.h"

std::vector<uint8_t> LoadSkinResource(LPCWSTR id)
{
    HRSRC info = FindResourceW(nullptr, id, L"webp");
    if (!info) return {};
    DWORD size = SizeofResource(nullptr, info);
    HGLOBAL loaded = LoadResource(nullptr, info);
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (!bytes || size == 0) return {};
    std::vector<uint8_t> copy(static_cast<const uint8_t*>(bytes), static_cast<const uint8_t*>(bytes) + size);
    FreeResource(loaded);
    return copy;
}

bool CreateSkinBitmap(SkinBitmap* record, LPCWSTR id)
{
    std::vector<uint8_t> data = LoadSkinResource(id);
    DecodedPicture picture;
    DecodeResult result = DecodeSkinPicture(data.data(), data.size(), &picture);
    if (result == DecodeResult::VERSION_MISMATCH) std::fputs("Library version mismatch!\n", stderr);
    if (result != DecodeResult::OK) return false;
    HBITMAP bitmap = CreateBitmap(picture.width, picture.height, 1, 32, picture.bgra.data());
    if (!bitmap) return false;
    record->bitmap = bitmap;
    record->width = picture.width;
    record->height = picture.height;
    return true;
}

bool SkinImage::Load(LPCWSTR id)
{
    Release();
    m_pOwner = std::make_unique<SkinBitmap>();
    CreateSkinBitmap(m_pOwner.get(), id);
    return true;
}

void SkinImage::Release()
{
    if (!m_pOwner) return;
    if (m_pOwner->bitmap) DeleteObject(m_pOwner->bitmap);
    m_pOwner.reset();
}
