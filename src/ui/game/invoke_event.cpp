#include "ui/game/invoke_event.h"

#include <exdispid.h>
#include <mshtml.h>

#include <cwchar>

#include "ui/framework/scoped_win.h"

bool IsGamePageAddress(const wchar_t* url)
{
    return url && std::wcsstr(url, L"openkey") && std::wcsstr(url, L"openid");
}

STDMETHODIMP CInvokeEvent::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* pParams, VARIANT*, EXCEPINFO*, UINT*)
{
    if (!pParams) return E_INVALIDARG;
    if (!m_pWindow) return S_OK;
    if (id == DISPID_TITLECHANGE) OnTitleChange(*pParams);
    if (id == DISPID_DOCUMENTCOMPLETE) OnDocumentComplete(*pParams);
    return S_OK;
}

void CInvokeEvent::OnTitleChange(const DISPPARAMS& params)
{
    const wchar_t* title = L"";
    if (params.cArgs >= 1 && params.rgvarg[0].vt == VT_BSTR && params.rgvarg[0].bstrVal) {
        title = params.rgvarg[0].bstrVal;
    }
    m_pWindow->SetTitleText(title);
    m_pWindow->SetTitleText(L"");
}

void CInvokeEvent::OnDocumentComplete(const DISPPARAMS& params)
{
    if (params.cArgs < 2) return;
    IWebBrowser2* browser = m_pWindow->GetBrowser();
    // Only the top-level document: a frame arrives with another object.
    const VARIANT& source = params.rgvarg[1];
    if (!browser || source.vt != VT_DISPATCH || source.pdispVal != static_cast<IDispatch*>(browser)) return;
    const VARIANT& url = params.rgvarg[0];
    const VARIANT* text = url.vt == (VT_VARIANT | VT_BYREF) ? url.pvarVal : &url;
    if (!text || text->vt != VT_BSTR || !IsGamePageAddress(text->bstrVal)) return;

    CComPtr<IDispatch> document;
    if (FAILED(browser->get_Document(document.Receive())) || !document) return;
    CComPtr<IHTMLDocument2> html;
    CComPtr<IHTMLElement> body;
    if (FAILED(document->QueryInterface(IID_IHTMLDocument2, html.ReceiveVoid())) ||
        FAILED(html->get_body(body.Receive())) || !body) {
        return;
    }
    CVariant no(L"no");
    if (SUCCEEDED(body->setAttribute(CBstr(L"SCROLL"), no.Get(), 0))) {
        HWND host = m_pWindow->GetBrowserHost();
        SetWindowLongW(host, GWL_STYLE, GetWindowLongW(host, GWL_STYLE) & ~WS_VSCROLL);
    }
}
