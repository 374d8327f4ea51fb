#include "ui/launcher/game_url_capture.h"

bool ComposeGameUrl(const std::wstring& address, std::wstring* pGameUrl)
{
    size_t marker = address.find(PLAY_PAGE_MARKER);
    if (marker == std::wstring::npos || marker == 0) return false;
    std::wstring composed = address + GAME_URL_ADDITION;
    if (composed.size() + 1 > MAX_GAME_URL_CHARS) return false;
    *pGameUrl = composed;
    return true;
}
