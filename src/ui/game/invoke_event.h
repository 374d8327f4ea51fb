// CInvokeEvent: the game browser's event sink (DWebBrowserEvents2). It paints
// each new page title into the title band and clears it again, and hides the
// page's scroll bars once the top-level game page has loaded. No reference
// counting: it lives as long as its game window.
#pragma once

#include <windows.h>
#include <exdisp.h>

// What the sink needs of its game window.
class IGameBrowserWindow {
public:
    virtual void SetTitleText(const wchar_t* text) = 0;
    // The browser whose top-level document counts (null before creation).
    virtual IWebBrowser2* GetBrowser() = 0;
    virtual HWND GetBrowserHost() = 0;

protected:
    ~IGameBrowserWindow() = default;
};

class CInvokeEvent : public IDispatch {
public:
    void SetWindow(IGameBrowserWindow* pWindow) { m_pWindow = pWindow; }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override { return 1; }
    STDMETHODIMP_(ULONG) Release() override { return 0; }
    STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** ppInfo) override;
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* pParams, VARIANT*, EXCEPINFO*, UINT*) override;

private:
    void OnTitleChange(const DISPPARAMS& params);
    void OnDocumentComplete(const DISPPARAMS& params);

    IGameBrowserWindow* m_pWindow = nullptr;
};

// True when the page address names the game itself: it holds both "openkey"
// and "openid", in that letter case, anywhere.
bool IsGamePageAddress(const wchar_t* url);
