// Clearing what the browser and the launcher keep between runs: the cookie
// entries of the URL cache, the user's Cookies folder and the resource cache.
#pragma once

#include <windows.h>

#include <string>

// Deletes every cookie entry of the URL cache and nothing else. False when
// the cache cannot be enumerated.
bool DeleteUrlCacheEntries();

// Deletes everything inside folder, at every depth, read-only files too, but
// keeps each "desktop.ini" (in any letter case) and the folder itself. A
// junction or symbolic link is removed itself, never followed: what it
// points to stays. What cannot be deleted stays and the walk goes on. False
// when the folder cannot be searched.
bool DeleteFolderContents(const std::wstring& folder);

// The three clearings in order, then "清空完成！" in a message box owned by
// hWndOwner, whatever they achieved.
void ClearCaches(HWND hWndOwner);
