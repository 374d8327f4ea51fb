// The ActiveX host with the real WebBrowser control under Wine (which draws
// no page: nothing here depends on page content).
#include "ui/framework/ax_host.h"

#include <windows.h>
#include <exdisp.h>
#include <exdispid.h>
#include <ocidl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "win32_test_support.h"

namespace {

// Records the events of DWebBrowserEvents2 it receives.
class RecordingSink : public IDispatch {
public:
    std::vector<DISPID> events;
    std::vector<std::wstring> navigations;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == DIID_DWebBrowserEvents2) {
            *ppv = this;
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 1; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override
    {
        events.push_back(id);
        if (id == DISPID_BEFORENAVIGATE2 && params && params->cArgs == 7) {
            VARIANT* url = params->rgvarg[5].pvarVal;
            if (url && url->vt == VT_BSTR) navigations.emplace_back(url->bstrVal);
        }
        return S_OK;
    }
};

class BrowserHost : public ::testing::Test {
protected:
    void SetUp() override
    {
        CoInitialize(nullptr);
        ASSERT_TRUE(AtlAxWinInit());
        m_parent = CreateWindowExW(0, L"STATIC", L"parent", WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, 640, 480,
                                   nullptr, nullptr, nullptr, nullptr);
        m_host = CreateWindowExW(0, L"AtlAxWin90", L"", WS_CHILD | WS_VISIBLE | WS_VSCROLL, 3, 29, 400, 300,
                                 m_parent, nullptr, nullptr, nullptr);
        ASSERT_NE(nullptr, m_host);
    }
    void TearDown() override
    {
        if (m_parent) DestroyWindow(m_parent);
        CoUninitialize();
    }

    HWND m_parent = nullptr;
    HWND m_host = nullptr;
};

TEST_F(BrowserHost, RegistersOnceAndAnswersItsMessages)
{
    EXPECT_TRUE(AtlAxWinInit());
    EXPECT_NE(0u, AtlGetHostMessage());
    EXPECT_NE(0u, AtlGetControlMessage());
    EXPECT_EQ(RegisterWindowMessageW(L"WM_ATLGETHOST"), AtlGetHostMessage());
    EXPECT_EQ(RegisterWindowMessageW(L"WM_ATLGETCONTROL"), AtlGetControlMessage());
    EXPECT_NE(0, SendMessageW(m_host, AtlGetHostMessage(), 0, 0));
    EXPECT_EQ(0, SendMessageW(m_host, AtlGetControlMessage(), 0, 0)) << "no control yet";
    EXPECT_EQ(nullptr, QueryHostBrowser(m_host));
    MSG msg = {m_host, WM_KEYDOWN, VK_TAB, 0, 0, {0, 0}};
    EXPECT_EQ(0, SendMessageW(m_host, 0x037F, 0, reinterpret_cast<LPARAM>(&msg)));
}

TEST_F(BrowserHost, CreatesTheBrowserInPlaceAndNavigates)
{
    ASSERT_EQ(S_OK, CreateBrowserControl(m_host));
    EXPECT_EQ(0, GetWindowLongW(m_host, GWL_STYLE) & WS_VSCROLL) << "the scroll style became a permission";
    IWebBrowser2* browser = QueryHostBrowser(m_host);
    ASSERT_NE(nullptr, browser);

    RecordingSink sink;
    IConnectionPointContainer* container = nullptr;
    ASSERT_EQ(S_OK, browser->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container)));
    IConnectionPoint* point = nullptr;
    ASSERT_EQ(S_OK, container->FindConnectionPoint(DIID_DWebBrowserEvents2, &point));
    DWORD cookie = 0;
    ASSERT_EQ(S_OK, point->Advise(&sink, &cookie));

    VARIANT url;
    VariantInit(&url);
    url.vt = VT_BSTR;
    url.bstrVal = SysAllocString(L"http://127.0.0.1:1/game/play?x=1");
    browser->Navigate2(&url, nullptr, nullptr, nullptr, nullptr);
    VariantClear(&url);
    EXPECT_TRUE(WaitUntil([&] { return !sink.navigations.empty(); }, 10000));
    ASSERT_FALSE(sink.navigations.empty());
    EXPECT_EQ(L"http://127.0.0.1:1/game/play?x=1", sink.navigations.front());
    EXPECT_EQ(S_OK, browser->put_Silent(VARIANT_TRUE));

    point->Unadvise(cookie);
    point->Release();
    container->Release();
    browser->Release();
}

TEST_F(BrowserHost, ForwardedInputReachesTheControlWithoutHarm)
{
    ASSERT_EQ(S_OK, CreateBrowserControl(m_host));
    MSG msg = {m_host, WM_KEYDOWN, VK_F5, 0, 0, {0, 0}};
    LRESULT answer = SendMessageW(m_host, 0x037F, 0, reinterpret_cast<LPARAM>(&msg));
    EXPECT_TRUE(answer == 0 || answer == 1);
    EXPECT_EQ(0, SendMessageW(m_host, 0x037F, 0, 0)) << "no message, nothing consumed";
}

TEST_F(BrowserHost, CreationWithoutAHostFails)
{
    EXPECT_EQ(E_INVALIDARG, CreateBrowserControl(nullptr));
    EXPECT_EQ(E_INVALIDARG, CreateBrowserControl(m_parent));
}

}  // namespace
