// The version file through GetKeyValue and the version test: values never
// hold a line end and never run past the text.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "app/update_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The update check reads at most 255 bytes into a zero-filled block.
    char block[256] = {};
    std::memcpy(block, data, size < 255 ? size : 255);
    for (const char* key : {"version", "md5", "exe"}) {
        std::string value = GetKeyValue(block, key);
        if (value.find_first_of("\r\n") != std::string::npos || value.size() > 255) __builtin_trap();
    }
    std::wstring advertised;
    for (char c : GetKeyValue(block, "version")) advertised += static_cast<wchar_t>(static_cast<unsigned char>(c));
    bool isNew = IsAdvertisedVersionNew(L"1.0.5", advertised);
    if (advertised.compare(0, 5, L"1.0.5") == 0 && advertised.size() >= 5 && isNew) __builtin_trap();
    return 0;
}
