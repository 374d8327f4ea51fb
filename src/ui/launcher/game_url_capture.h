// Recognition of the play page among the launcher browser's navigations and
// the game address built from it. Wide text throughout, so an address with
// characters outside ASCII comes through unchanged.
#pragma once

#include <string>

// Marks the play page: found in the address, but not at its very start.
const wchar_t PLAY_PAGE_MARKER[] = L"/full/play_gamecode/?client=1";
// What the game address gets appended: the login type and, as "remark", the
// base under which the local server answers resource requests.
const wchar_t GAME_URL_ADDITION[] = L"&clientlogintype=1&remark=http://127.0.0.1:12315/wz_cdn/cdn/";
// The working limit of an address and of the game address, terminator
// included; longer addresses count as no match.
const size_t MAX_GAME_URL_CHARS = 131072;

// True when address is the play page; *pGameUrl then receives the address
// exactly as given followed by the addition.
bool ComposeGameUrl(const std::wstring& address, std::wstring* pGameUrl);
