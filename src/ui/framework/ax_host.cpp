#include "ui/framework/ax_host.h"

#include <mshtmhst.h>
#include <ole2.h>

#include "ui/framework/scoped_win.h"

namespace {

const wchar_t HOST_CLASS[] = L"AtlAxWin90";
UINT g_nGetHostMessage = 0;
UINT g_nGetControlMessage = 0;

// The site of one hosted control: client site, in-place site and frame, and
// the document host's UI handler that decides about page scroll bars. It is
// reference counted; its window holds one reference until WM_NCDESTROY.
class CAxHost final : public IOleClientSite,
                      public IOleInPlaceSite,
                      public IOleInPlaceFrame,
                      public IDocHostUIHandler {
public:
    explicit CAxHost(HWND hWnd) : m_hWnd(hWnd) {}

    HRESULT CreateControl()
    {
        if (m_pObject) return E_UNEXPECTED;
        // The host's scroll style becomes the page's permission to scroll.
        LONG style = GetWindowLongW(m_hWnd, GWL_STYLE);
        m_bAllowScroll = (style & WS_VSCROLL) != 0;
        SetWindowLongW(m_hWnd, GWL_STYLE, style & ~WS_VSCROLL);

        HRESULT hr = CoCreateInstance(CLSID_WebBrowser, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject,
                                      reinterpret_cast<void**>(&m_pObject));
        if (FAILED(hr)) return hr;
        hr = m_pObject->SetClientSite(this);
        CComPtr<IPersistStreamInit> init;
        if (SUCCEEDED(hr) && SUCCEEDED(m_pObject->QueryInterface(IID_IPersistStreamInit, init.ReceiveVoid()))) {
            init->InitNew();
        }
        RECT client;
        GetClientRect(m_hWnd, &client);
        if (SUCCEEDED(hr)) hr = m_pObject->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, this, 0, m_hWnd, &client);
        if (SUCCEEDED(hr)) hr = m_pObject->DoVerb(OLEIVERB_SHOW, nullptr, this, 0, m_hWnd, &client);
        if (FAILED(hr)) {
            Close();
            return hr;
        }
        return S_OK;
    }

    void Close()
    {
        if (!m_pObject) return;
        m_pObject->Close(OLECLOSE_NOSAVE);
        m_pObject->SetClientSite(nullptr);
        m_pObject->Release();
        m_pObject = nullptr;
    }

    IUnknown* Control() const { return m_pObject; }

    LRESULT Forward(const MSG* msg)
    {
        if (!m_pObject || !msg) return 0;
        CComPtr<IOleInPlaceActiveObject> active;
        if (FAILED(m_pObject->QueryInterface(IID_IOleInPlaceActiveObject, active.ReceiveVoid()))) return 0;
        return active->TranslateAccelerator(const_cast<MSG*>(msg)) == S_OK ? 1 : 0;
    }

    void FitToClient()
    {
        CComPtr<IOleInPlaceObject> inPlace;
        if (!m_pObject || FAILED(m_pObject->QueryInterface(IID_IOleInPlaceObject, inPlace.ReceiveVoid()))) return;
        RECT client;
        GetClientRect(m_hWnd, &client);
        inPlace->SetObjectRects(&client, &client);
    }

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IUnknown || riid == IID_IOleClientSite) {
            *ppv = static_cast<IOleClientSite*>(this);
        } else if (riid == IID_IOleWindow || riid == IID_IOleInPlaceSite) {
            *ppv = static_cast<IOleInPlaceSite*>(this);
        } else if (riid == IID_IOleInPlaceUIWindow || riid == IID_IOleInPlaceFrame) {
            *ppv = static_cast<IOleInPlaceFrame*>(this);
        } else if (riid == IID_IDocHostUIHandler) {
            *ppv = static_cast<IDocHostUIHandler*>(this);
        } else {
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&m_nRefs); }
    STDMETHODIMP_(ULONG) Release() override
    {
        LONG refs = InterlockedDecrement(&m_nRefs);
        if (refs == 0) delete this;
        return static_cast<ULONG>(refs);
    }

    // IOleClientSite
    STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
    STDMETHODIMP GetContainer(IOleContainer** ppContainer) override
    {
        if (ppContainer) *ppContainer = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP ShowObject() override { return S_OK; }
    STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
    STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

    // IOleWindow (the in-place site's and the frame's)
    STDMETHODIMP GetWindow(HWND* phWnd) override
    {
        if (!phWnd) return E_POINTER;
        *phWnd = m_hWnd;
        return S_OK;
    }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

    // IOleInPlaceSite
    STDMETHODIMP CanInPlaceActivate() override { return S_OK; }
    STDMETHODIMP OnInPlaceActivate() override { return S_OK; }
    STDMETHODIMP OnUIActivate() override { return S_OK; }
    STDMETHODIMP GetWindowContext(IOleInPlaceFrame** ppFrame, IOleInPlaceUIWindow** ppDoc, LPRECT lprcPosRect,
                                  LPRECT lprcClipRect, LPOLEINPLACEFRAMEINFO lpFrameInfo) override
    {
        if (!ppFrame || !ppDoc || !lprcPosRect || !lprcClipRect) return E_POINTER;
        *ppFrame = static_cast<IOleInPlaceFrame*>(this);
        AddRef();
        *ppDoc = nullptr;
        GetClientRect(m_hWnd, lprcPosRect);
        GetClientRect(m_hWnd, lprcClipRect);
        if (lpFrameInfo) {
            lpFrameInfo->fMDIApp = FALSE;
            lpFrameInfo->hwndFrame = GetAncestor(m_hWnd, GA_ROOT);
            lpFrameInfo->haccel = nullptr;
            lpFrameInfo->cAccelEntries = 0;
        }
        return S_OK;
    }
    STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
    STDMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
    STDMETHODIMP OnInPlaceDeactivate() override { return S_OK; }
    STDMETHODIMP DiscardUndoState() override { return E_NOTIMPL; }
    STDMETHODIMP DeactivateAndUndo() override { return E_NOTIMPL; }
    // The control asks for a new place (after put_Width and the like): the
    // host window follows it within its parent.
    STDMETHODIMP OnPosRectChange(LPCRECT lprcPosRect) override
    {
        if (!lprcPosRect) return E_POINTER;
        RECT window;
        GetWindowRect(m_hWnd, &window);
        MapWindowPoints(nullptr, GetParent(m_hWnd), reinterpret_cast<POINT*>(&window), 2);
        SetWindowPos(m_hWnd, nullptr, window.left, window.top, lprcPosRect->right - lprcPosRect->left,
                     lprcPosRect->bottom - lprcPosRect->top, SWP_NOZORDER | SWP_NOACTIVATE);
        return S_OK;
    }

    // IOleInPlaceUIWindow and IOleInPlaceFrame: no menus, toolbars or status.
    STDMETHODIMP GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
    STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) override { return S_OK; }
    STDMETHODIMP InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
    STDMETHODIMP SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
    STDMETHODIMP RemoveMenus(HMENU) override { return E_NOTIMPL; }
    STDMETHODIMP SetStatusText(LPCOLESTR) override { return S_OK; }
    STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }
    STDMETHODIMP TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

    // IDocHostUIHandler: the browser's defaults, but for the scroll bars.
    STDMETHODIMP ShowContextMenu(DWORD, POINT*, IUnknown*, IDispatch*) override { return S_FALSE; }
    STDMETHODIMP GetHostInfo(DOCHOSTUIINFO* pInfo) override
    {
        if (!pInfo) return E_POINTER;
        pInfo->dwFlags = m_bAllowScroll ? 0 : DOCHOSTUIFLAG_SCROLL_NO;
        pInfo->dwDoubleClick = DOCHOSTUIDBLCLK_DEFAULT;
        return S_OK;
    }
    STDMETHODIMP ShowUI(DWORD, IOleInPlaceActiveObject*, IOleCommandTarget*, IOleInPlaceFrame*,
                        IOleInPlaceUIWindow*) override
    {
        return S_FALSE;
    }
    STDMETHODIMP HideUI() override { return S_OK; }
    STDMETHODIMP UpdateUI() override { return S_OK; }
    STDMETHODIMP OnDocWindowActivate(BOOL) override { return S_OK; }
    STDMETHODIMP OnFrameWindowActivate(BOOL) override { return S_OK; }
    STDMETHODIMP ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override { return S_OK; }
    STDMETHODIMP TranslateAccelerator(LPMSG, const GUID*, DWORD) override { return S_FALSE; }
    STDMETHODIMP GetOptionKeyPath(LPOLESTR* pchKey, DWORD) override
    {
        if (pchKey) *pchKey = nullptr;
        return S_FALSE;
    }
    STDMETHODIMP GetDropTarget(IDropTarget*, IDropTarget** ppDropTarget) override
    {
        if (ppDropTarget) *ppDropTarget = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetExternal(IDispatch** ppDispatch) override
    {
        if (ppDispatch) *ppDispatch = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP TranslateUrl(DWORD, LPWSTR, LPWSTR* ppchURLOut) override
    {
        if (ppchURLOut) *ppchURLOut = nullptr;
        return S_FALSE;
    }
    STDMETHODIMP FilterDataObject(IDataObject*, IDataObject** ppDORet) override
    {
        if (ppDORet) *ppDORet = nullptr;
        return S_FALSE;
    }

private:
    virtual ~CAxHost() { Close(); }

    LONG m_nRefs = 1;
    HWND m_hWnd;
    IOleObject* m_pObject = nullptr;
    bool m_bAllowScroll = false;
};

CAxHost* HostOf(HWND hWnd)
{
    return reinterpret_cast<CAxHost*>(GetWindowLongPtrW(hWnd, GWLP_USERDATA));
}

LRESULT CALLBACK HostWindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    CAxHost* host = HostOf(hWnd);
    if (uMsg == WM_NCCREATE) {
        SetWindowLongPtrW(hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(new CAxHost(hWnd)));
    } else if (uMsg == WM_DESTROY && host) {
        // Closed while the control's own child windows still exist, which
        // are destroyed after this message.
        host->Close();
    } else if (uMsg == WM_NCDESTROY && host) {
        SetWindowLongPtrW(hWnd, GWLP_USERDATA, 0);
        host->Release();
    } else if (host && uMsg == g_nGetHostMessage) {
        return reinterpret_cast<LRESULT>(static_cast<IOleClientSite*>(host));
    } else if (host && uMsg == g_nGetControlMessage) {
        return reinterpret_cast<LRESULT>(host->Control());
    } else if (host && uMsg == WM_FORWARDMSG) {
        return host->Forward(reinterpret_cast<const MSG*>(lParam));
    } else if (host && uMsg == WM_SIZE) {
        host->FitToClient();
    } else if (uMsg == WM_ERASEBKGND && host && host->Control()) {
        return 1;   // the control paints the whole area
    } else if (uMsg == WM_SETFOCUS) {
        // The focus belongs to the control's own window, where the page
        // takes the keys.
        if (HWND control = GetWindow(hWnd, GW_CHILD)) SetFocus(control);
        return 0;
    }
    return DefWindowProcW(hWnd, uMsg, wParam, lParam);
}

}  // namespace

bool AtlAxWinInit()
{
    static bool registered = [] {
        g_nGetHostMessage = RegisterWindowMessageW(L"WM_ATLGETHOST");
        g_nGetControlMessage = RegisterWindowMessageW(L"WM_ATLGETCONTROL");
        WNDCLASSEXW windowClass = {};
        windowClass.cbSize = sizeof(windowClass);
        windowClass.style = CS_DBLCLKS;
        windowClass.lpfnWndProc = HostWindowProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        windowClass.lpszClassName = HOST_CLASS;
        return RegisterClassExW(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    }();
    return registered;
}

UINT AtlGetHostMessage()
{
    return g_nGetHostMessage;
}

UINT AtlGetControlMessage()
{
    return g_nGetControlMessage;
}

HRESULT CreateBrowserControl(HWND hWndHost)
{
    CAxHost* host = hWndHost ? HostOf(hWndHost) : nullptr;
    return host ? host->CreateControl() : E_INVALIDARG;
}

IWebBrowser2* QueryHostBrowser(HWND hWndHost)
{
    if (!hWndHost || !g_nGetControlMessage) return nullptr;
    IUnknown* control = reinterpret_cast<IUnknown*>(SendMessageW(hWndHost, g_nGetControlMessage, 0, 0));
    IWebBrowser2* browser = nullptr;
    if (control) control->QueryInterface(IID_IWebBrowser2, reinterpret_cast<void**>(&browser));
    return browser;
}

HWND CreateHostWindow(HWND hWndParent, const RECT& area, bool bAllowScroll)
{
    DWORD style = WS_CHILD | WS_VISIBLE | (bAllowScroll ? WS_VSCROLL : 0);
    return CreateWindowExW(0, HOST_CLASS, nullptr, style, area.left, area.top, area.right - area.left,
                           area.bottom - area.top, hWndParent, nullptr, nullptr, nullptr);
}

void NavigateSilently(IWebBrowser2* browser, const VARIANT& url)
{
    CVariant target;
    VariantCopy(target.Ptr(), const_cast<VARIANT*>(&url));
    browser->Navigate2(target.Ptr(), nullptr, nullptr, nullptr, nullptr);
    browser->put_Silent(VARIANT_TRUE);
}

bool ConnectBrowserEvents(IWebBrowser2* browser, IDispatch* sink)
{
    CComPtr<IConnectionPointContainer> container;
    CComPtr<IConnectionPoint> point;
    DWORD cookie = 0;
    return browser && SUCCEEDED(browser->QueryInterface(IID_IConnectionPointContainer, container.ReceiveVoid())) &&
           SUCCEEDED(container->FindConnectionPoint(DIID_DWebBrowserEvents2, point.Receive())) &&
           SUCCEEDED(point->Advise(sink, &cookie));
}

STDMETHODIMP CBrowserEventSink::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == DIID_DWebBrowserEvents2) {
        *ppv = static_cast<IDispatch*>(this);
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP CBrowserEventSink::GetTypeInfo(UINT, LCID, ITypeInfo** ppInfo)
{
    if (ppInfo) *ppInfo = nullptr;
    return E_NOTIMPL;
}
