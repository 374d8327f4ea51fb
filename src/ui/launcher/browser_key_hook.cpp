#include "ui/launcher/browser_key_hook.h"

#include <exdisp.h>
#include <ole2.h>

#include "ui/framework/ax_host.h"
#include "ui/framework/scoped_win.h"

HHOOK g_hKeyboardHook = nullptr;
HWND g_wndLauncherBrowserHost = nullptr;

namespace {

// Offers msg to the document of the launcher's browser.
void OfferToLauncherPage(MSG* msg)
{
    CComPtr<IWebBrowser2> browser(QueryHostBrowser(g_wndLauncherBrowserHost));
    CComPtr<IDispatch> document;
    if (!browser || FAILED(browser->get_Document(document.Receive())) || !document) return;
    CComPtr<IOleInPlaceActiveObject> active;
    if (SUCCEEDED(document->QueryInterface(IID_IOleInPlaceActiveObject, active.ReceiveVoid()))) {
        active->TranslateAccelerator(msg);
    }
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
