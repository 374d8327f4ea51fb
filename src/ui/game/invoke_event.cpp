#include "ui/game/invoke_event.h"

#include <exdispid.h>
#include <mshtml.h>

#include <cwchar>

bool IsGamePageAddress(const wchar_t* url)
{
    return url && std::wcsstr(url, L"openkey") && std::wcsstr(url, L"openid");
}

STDMETHODIMP CInvokeEvent::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == DIID_DWebBrowserEvents2) {
        *ppv = static_cast<IDispatch*>(this);
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP CInvokeEvent::GetTypeInfo(UINT, LCID, ITypeInfo** ppInfo)
{
    if (ppInfo) *ppInfo = nullptr;
    return E_NOTIMPL;
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

    IDispatch* document = nullptr;
    if (FAILED(browser->get_Document(&document)) || !document) return;
    IHTMLDocument2* html = nullptr;
    IHTMLElement* body = nullptr;
    if (SUCCEEDED(document->QueryInterface(IID_IHTMLDocument2, reinterpret_cast<void**>(&html))) &&
        SUCCEEDED(html->get_body(&body)) && body) {
        VARIANT no;
        VariantInit(&no);
        no.vt = VT_BSTR;
        no.bstrVal = SysAllocString(L"no");
        BSTR name = SysAllocString(L"SCROLL");
        HRESULT hr = body->setAttribute(name, no, 0);
        SysFreeString(name);
        VariantClear(&no);
        body->Release();
        if (SUCCEEDED(hr)) {
            HWND host = m_pWindow->GetBrowserHost();
            SetWindowLongW(host, GWL_STYLE, GetWindowLongW(host, GWL_STYLE) & ~WS_VSCROLL);
        }
    }
    if (html) html->Release();
    document->Release();
}
