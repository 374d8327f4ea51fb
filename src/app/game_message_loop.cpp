#include "app/game_message_loop.h"

#include "app/input_forwarding.h"
#include "ui/framework/ax_host.h"

void RunGameMessageLoop(const HWND& hWndGame, const HWND& hWndBrowserHost)
{
    MSG msg;
    for (;;) {
        BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0 || got == -1) return;
        if (IsForwardedInputMessage(msg.message) && hWndGame &&
            (msg.hwnd == hWndGame || IsChild(hWndGame, msg.hwnd))) {
            if (SendMessageW(hWndBrowserHost, WM_FORWARDMSG, 0, reinterpret_cast<LPARAM>(&msg))) continue;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}
