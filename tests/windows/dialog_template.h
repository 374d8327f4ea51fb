// Reads an extended dialog template (DLGTEMPLATEEX) from its resource bytes,
// so tests can compare what windres wrote with what the windows expect.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct DialogItem {
    uint32_t exStyle = 0;
    uint32_t style = 0;
    int x = 0, y = 0, cx = 0, cy = 0;
    uint32_t id = 0;
    std::wstring windowClass;   // predefined classes as their names ("Button")
    std::wstring text;
};

struct DialogTemplate {
    uint32_t exStyle = 0;
    uint32_t style = 0;
    int x = 0, y = 0, cx = 0, cy = 0;
    std::wstring menu;
    std::wstring windowClass;
    std::wstring title;
    int pointSize = 0;
    int weight = 0;
    std::wstring typeface;
    std::vector<DialogItem> items;
};

// False when the bytes are not a complete extended dialog template.
bool ParseDialogTemplateEx(const uint8_t* data, size_t size, DialogTemplate* out);
