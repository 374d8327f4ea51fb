// CInvokeEvent: the game browser's event sink (DWebBrowserEvents2). It paints
// each new page title into the title band and clears it again, and hides the
// page's scroll bars once the top-level game page has loaded. No reference
// counting: it lives as long as its game window.
#pragma once

#include <windows.h>
#include <exdisp.h>

#include "ui/framework/ax_host.h"

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

class CInvokeEvent : public CBrowserEventSink {
public:
    // Its Release answers 0.
    CInvokeEvent() : CBrowserEventSink(0) {}
    void SetWindow(IGameBrowserWindow* pWindow) { m_pWindow = pWindow; }

    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* pParams, VARIANT*, EXCEPINFO*, UINT*) override;

private:
    void OnTitleChange(const DISPPARAMS& params);
    void OnDocumentComplete(const DISPPARAMS& params);

    IGameBrowserWindow* m_pWindow = nullptr;
};

// True when the page address names the game itself: it holds both "openkey"
// and "openid", in that letter case, anywhere.
bool IsGamePageAddress(const wchar_t* url);
