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

// Registers the window class "AtlAxWin90" and the messages once per process;
// later calls change nothing. False when the class cannot be registered.
bool AtlAxWinInit();

// The registered message numbers (0 before AtlAxWinInit).
UINT AtlGetHostMessage();
UINT AtlGetControlMessage();

// Creates the WebBrowser control in the host window, in place and visible,
// filling the host's client area. The host's WS_VSCROLL style, taken away
// here, decides whether pages may show scroll bars. S_OK or the failure.
HRESULT CreateBrowserControl(HWND hWndHost);

// The control of a host as IWebBrowser2 with a reference added; null when
// the host has none.
IWebBrowser2* QueryHostBrowser(HWND hWndHost);

// Advises sink on the browser's DWebBrowserEvents2 connection point. The
// container and point are handed out with their references when asked for,
// released otherwise. False when the browser offers no such connection.
bool ConnectBrowserEvents(IWebBrowser2* browser, IDispatch* sink, IConnectionPointContainer** ppContainer,
                          IConnectionPoint** ppPoint, DWORD* pCookie);
