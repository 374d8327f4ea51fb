#include "ui/game/browser_key_hook.h"

#include <exdisp.h>
#include <ole2.h>

#include "ui/framework/ax_host.h"

HHOOK g_hKeyboardHook = nullptr;
HWND g_wndLauncherBrowserHost = nullptr;

namespace {

// Offers msg to the document of the launcher's browser.
void OfferToLauncherPage(MSG* msg)
{
    IWebBrowser2* browser = QueryHostBrowser(g_wndLauncherBrowserHost);
    if (!browser) return;
    IDispatch* document = nullptr;
    if (SUCCEEDED(browser->get_Document(&document)) && document) {
        IOleInPlaceActiveObject* active = nullptr;
        if (SUCCEEDED(document->QueryInterface(IID_IOleInPlaceActiveObject, reinterpret_cast<void**>(&active)))) {
            active->TranslateAccelerator(msg);
            active->Release();
        }
        document->Release();
    }
    browser->Release();
}

}  // namespace

LRESULT CALLBACK BrowserKeyHook(int code, WPARAM wParam, LPARAM lParam)
{
    if (g_wndLauncherBrowserHost) {
        MSG msg = {};
        msg.hwnd = g_wndLauncherBrowserHost;
        msg.wParam = wParam;
        msg.lParam = lParam;
        if (wParam == VK_TAB && GetKeyState(VK_TAB) < 0) {
            msg.message = WM_KEYDOWN;
            OfferToLauncherPage(&msg);
        } else if (wParam == VK_RETURN && GetKeyState(VK_RETURN) > 0) {
            // Key up with its toggle bit set: every second press.
            msg.message = WM_KEYUP;
            OfferToLauncherPage(&msg);
        }
    }
    return CallNextHookEx(g_hKeyboardHook, code, wParam, lParam);
}
