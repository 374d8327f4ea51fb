// Play-page capture: a captured address is the input followed by the fixed
// addition, within the working limit.
#include <cstddef>
#include <cstdint>
#include <string>

#include "ui/launcher/game_url_capture.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::wstring address;
    for (size_t i = 0; i + 1 < size; i += 2) address += static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
    std::wstring game;
    if (!ComposeGameUrl(address, &game)) return 0;
    if (game != address + GAME_URL_ADDITION || game.size() >= MAX_GAME_URL_CHARS) __builtin_trap();
    if (address.find(PLAY_PAGE_MARKER) == 0 || address.find(PLAY_PAGE_MARKER) == std::wstring::npos) {
        __builtin_trap();
    }
    return 0;
}
