#include "ui/launcher/browser_listener.h"

#include <exdispid.h>

#include <string>

#include "ui/framework/scoped_win.h"
#include "ui/launcher/game_url_capture.h"

namespace {

void SetSilent(IDispatch* pBrowser)
{
    CComPtr<IWebBrowser2> browser;
    if (pBrowser && SUCCEEDED(pBrowser->QueryInterface(IID_IWebBrowser2, browser.ReceiveVoid()))) {
        browser->put_Silent(VARIANT_TRUE);
    }
}

// The value of an argument that may arrive by reference.
const VARIANT* Referenced(const VARIANT& argument)
{
    return (argument.vt & VT_BYREF) && (argument.vt & VT_TYPEMASK) == VT_VARIANT ? argument.pvarVal : &argument;
}

const wchar_t* TextOf(const VARIANT& argument)
{
    const VARIANT* value = Referenced(argument);
    return value && value->vt == VT_BSTR && value->bstrVal ? value->bstrVal : L"";
}

}  // namespace

void CaptureGameUrl(CWebBrwoser2EventListener* pSink, IDispatch* pBrowser, const VARIANT& url, VARIANT_BOOL*)
{
    SetSilent(pBrowser);
    std::wstring address = TextOf(url);
    std::wstring game;
    if (!ComposeGameUrl(address, &game)) return;
    OutputDebugStringW((address + L"\n").c_str());
    pSink->HandOver()->SetGameUrl(game.c_str());
    pSink->HandOver()->ChooseGameWindow();
    PostMessageW(pSink->LauncherWindow(), WM_DESTROY, 0, 0);
}

STDMETHODIMP CWebBrwoser2EventListener::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* pParams, VARIANT*,
                                               EXCEPINFO*, UINT*)
{
    if (!pParams) return E_INVALIDARG;
    if (id == DISPID_BEFORENAVIGATE2 && pParams->cArgs >= 7) {
        VARIANT_BOOL cancel = VARIANT_FALSE;
        const VARIANT& browser = pParams->rgvarg[6];
        CaptureGameUrl(this, browser.vt == VT_DISPATCH ? browser.pdispVal : nullptr, pParams->rgvarg[5], &cancel);
        const VARIANT& cancelArgument = pParams->rgvarg[0];
        if (cancelArgument.vt == (VT_BOOL | VT_BYREF) && cancelArgument.pboolVal) {
            *cancelArgument.pboolVal = cancel ? VARIANT_TRUE : VARIANT_FALSE;
        }
    } else if (id == DISPID_DOCUMENTCOMPLETE && pParams->cArgs >= 2) {
        OutputDebugStringW((std::wstring(TextOf(pParams->rgvarg[0])) + L"\n").c_str());
        const VARIANT& browser = pParams->rgvarg[1];
        SetSilent(browser.vt == VT_DISPATCH ? browser.pdispVal : nullptr);
    }
    return S_OK;
}
