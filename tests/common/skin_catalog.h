// Every skin picture the program carries: resource id (or name), the pixel
// size it must decode to, and whether it carries an alpha channel.
#pragma once

#include <string>
#include <vector>

struct SkinPicture {
    int id;              // resource id; 0 for the named picture
    const char* name;    // resource name when id is 0
    int width;
    int height;
    bool alpha;          // lossy with an ALPH chunk; otherwise plain lossy VP8
};

inline const std::vector<SkinPicture>& SkinCatalog()
{
    static const std::vector<SkinPicture> pictures = {
        {271, nullptr, 1200, 800, true},
        {272, nullptr, 205, 101, false}, {273, nullptr, 205, 101, false},
        {274, nullptr, 205, 101, false},
        {275, nullptr, 35, 35, false}, {276, nullptr, 35, 35, false},
        {277, nullptr, 35, 35, false},
        {278, nullptr, 135, 29, false}, {279, nullptr, 135, 29, false},
        {280, nullptr, 135, 29, false}, {281, nullptr, 135, 29, false},
        {282, nullptr, 135, 29, false}, {283, nullptr, 135, 29, false},
        {284, nullptr, 135, 29, false}, {285, nullptr, 135, 29, false},
        {286, nullptr, 135, 29, false}, {287, nullptr, 135, 29, false},
        {288, nullptr, 135, 29, false}, {289, nullptr, 135, 29, false},
        {290, nullptr, 30, 31, false}, {291, nullptr, 30, 31, false},
        {292, nullptr, 30, 31, false},
        {293, nullptr, 34, 25, true}, {294, nullptr, 34, 25, true},
        {295, nullptr, 34, 25, true},
        {296, nullptr, 568, 258, false},
        {297, nullptr, 568, 31, true},
        {298, nullptr, 30, 25, true}, {299, nullptr, 30, 25, true},
        {300, nullptr, 30, 25, true},
        {301, nullptr, 70, 31, false},
        {302, nullptr, 50, 37, true},
        {303, nullptr, 30, 25, true}, {304, nullptr, 30, 25, true},
        {305, nullptr, 30, 25, true}, {306, nullptr, 30, 25, true},
        {307, nullptr, 30, 25, true}, {308, nullptr, 30, 25, true},
        {309, nullptr, 30, 25, true}, {310, nullptr, 30, 25, true},
        {311, nullptr, 30, 25, true}, {312, nullptr, 30, 25, true},
        {313, nullptr, 30, 25, true}, {314, nullptr, 30, 25, true},
        {315, nullptr, 50, 37, true},
        {0, "IDR_WEBP_PIC_SHUAXIN", 20, 20, true},
    };
    return pictures;
}

// The committed file that holds a picture, relative to resources/.
inline std::string SkinPictureFile(const SkinPicture& picture)
{
    return picture.id ? "webp/" + std::to_string(picture.id) + ".webp" : "webp/shuaxin.webp";
}

inline std::string SkinPictureLabel(const SkinPicture& picture)
{
    return picture.id ? std::to_string(picture.id) : picture.name;
}
