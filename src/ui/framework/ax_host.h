// The ActiveX control host: a child window of class "AtlAxWin90" that owns
// one in-place active control (the WebBrowser control), follows the
// control's position rectangle and lets the control see offered input.
//
// Messages it answers:
//   WM_ATLGETHOST     the host object's IUnknown (borrowed, no reference added)
//   WM_ATLGETCONTROL  the control's IUnknown, or null (borrowed likewise)
//   WM_FORWARDMSG     lParam is a MSG*: 1 when the control's
//                     IOleInPlaceActiveObject::TranslateAccelerator took it
#pragma once

#include <windows.h>
#include <exdisp.h>
#include <ocidl.h>

// The message by which a host lets its control see input first.
const UINT WM_FORWARDMSG = 0x037F;

// Registers the window class "AtlAxWin90" and the messages once per process;
// later calls change nothing. False when the class cannot be registered.
bool AtlAxWinInit();

// The registered message numbers (0 before AtlAxWinInit).
UINT AtlGetHostMessage();
UINT AtlGetControlMessage();

// Creates a visible host window over area of its parent. bAllowScroll gives
// it the WS_VSCROLL style, which CreateBrowserControl turns into the page's
// permission to show scroll bars. Null when the window cannot be created.
HWND CreateHostWindow(HWND hWndParent, const RECT& area, bool bAllowScroll);

// Creates the WebBrowser control in the host window, in place and visible,
// filling the host's client area. The host's WS_VSCROLL style, taken away
// here, decides whether pages may show scroll bars. S_OK or the failure.
HRESULT CreateBrowserControl(HWND hWndHost);

// The control of a host as IWebBrowser2 with a reference added; null when
// the host has none.
IWebBrowser2* QueryHostBrowser(HWND hWndHost);

// Navigates the browser to url (a VARIANT as Navigate2 takes it) and keeps
// it from showing script error dialogs.
void NavigateSilently(IWebBrowser2* browser, const VARIANT& url);

// Advises sink on the browser's DWebBrowserEvents2 connection point, for the
// life of the control. False when the browser offers no such connection.
bool ConnectBrowserEvents(IWebBrowser2* browser, IDispatch* sink);

// The part that both browsers' event sinks share: a DWebBrowserEvents2
// dispatch object without script access. A sink is not reference counted:
// it lives as long as the window that holds it, AddRef answers 1 and Release
// answers the number the sink was made with, and neither changes anything.
// Subclasses implement Invoke.
class CBrowserEventSink : public IDispatch {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override { return 1; }
    STDMETHODIMP_(ULONG) Release() override { return m_nReleaseAnswer; }
    STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** ppInfo) override;
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }

protected:
    explicit CBrowserEventSink(ULONG nReleaseAnswer) : m_nReleaseAnswer(nReleaseAnswer) {}
    ~CBrowserEventSink() = default;

private:
    ULONG m_nReleaseAnswer;
};
