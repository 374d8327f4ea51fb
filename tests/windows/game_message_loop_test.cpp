// The game phase's message loop with real windows and messages.
#include "app/game_message_loop.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <thread>
#include <utility>
#include <vector>

#include "app/ole_apartment.h"
#include "ui/framework/ax_host.h"

namespace {

// The game phase's loop: input for the game window or its descendants goes
// to the browser host first; what the host consumes is never dispatched.
struct LoopRecord {
    std::vector<std::pair<HWND, WPARAM>> offered;   // WM_FORWARDMSG: target and key
    std::vector<std::pair<HWND, WPARAM>> received;  // WM_KEYDOWN dispatched to a window
};
LoopRecord g_record;

LRESULT CALLBACK RecordingProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_KEYDOWN) g_record.received.emplace_back(hWnd, wParam);
    return DefWindowProcW(hWnd, message, wParam, lParam);
}

// The host consumes the key 'A' and lets everything else through.
LRESULT CALLBACK HostProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_FORWARDMSG) {
        const MSG* msg = reinterpret_cast<const MSG*>(lParam);
        g_record.offered.emplace_back(msg->hwnd, msg->wParam);
        return msg->message == WM_KEYDOWN && msg->wParam == 'A' ? 1 : 0;
    }
    return DefWindowProcW(hWnd, message, wParam, lParam);
}

TEST(GameMessageLoop, OffersInputToTheBrowserHostFirst)
{
    WNDCLASSW recording = {};
    recording.lpfnWndProc = RecordingProc;
    recording.lpszClassName = L"QuilletTestRecording";
    recording.hInstance = GetModuleHandleW(nullptr);
    RegisterClassW(&recording);
    WNDCLASSW host = recording;
    host.lpfnWndProc = HostProc;
    host.lpszClassName = L"QuilletTestHost";
    RegisterClassW(&host);

    HWND game = CreateWindowExW(0, L"QuilletTestRecording", L"game", WS_POPUP, 0, 0, 100, 100, nullptr, nullptr,
                                nullptr, nullptr);
    HWND child = CreateWindowExW(0, L"QuilletTestRecording", L"child", WS_CHILD, 0, 0, 10, 10, game, nullptr,
                                 nullptr, nullptr);
    HWND grandchild = CreateWindowExW(0, L"QuilletTestRecording", L"grandchild", WS_CHILD, 0, 0, 5, 5, child,
                                      nullptr, nullptr, nullptr);
    HWND browserHost = CreateWindowExW(0, L"QuilletTestHost", L"host", WS_CHILD, 0, 0, 10, 10, game, nullptr,
                                       nullptr, nullptr);
    HWND other = CreateWindowExW(0, L"QuilletTestRecording", L"other", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                 nullptr, nullptr);
    ASSERT_TRUE(game && child && grandchild && browserHost && other);

    g_record = LoopRecord();
    PostMessageW(game, WM_KEYDOWN, 'A', 0);
    PostMessageW(grandchild, WM_KEYDOWN, 'A', 0);
    PostMessageW(child, WM_KEYDOWN, 'B', 0);
    PostMessageW(other, WM_KEYDOWN, 'A', 0);
    PostQuitMessage(0);
    RunGameMessageLoop(game, browserHost);

    // 'B' was translated after the host let it through: its WM_CHAR 'b' is
    // offered in turn. The consumed 'A's were never translated.
    std::vector<std::pair<HWND, WPARAM>> offered = {{game, 'A'}, {grandchild, 'A'}, {child, 'B'}, {child, 'b'}};
    std::vector<std::pair<HWND, WPARAM>> received = {{child, 'B'}, {other, 'A'}};
    EXPECT_EQ(offered, g_record.offered);
    EXPECT_EQ(received, g_record.received);

    DestroyWindow(other);
    DestroyWindow(game);
}

// A drop target that takes nothing, for registering a window.
class CRefusingDropTarget : public IDropTarget {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (riid != IID_IUnknown && riid != IID_IDropTarget) {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        *ppv = this;
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP DragEnter(IDataObject*, DWORD, POINTL, DWORD* effect) override { return Refuse(effect); }
    STDMETHODIMP DragOver(DWORD, POINTL, DWORD* effect) override { return Refuse(effect); }
    STDMETHODIMP DragLeave() override { return S_OK; }
    STDMETHODIMP Drop(IDataObject*, DWORD, POINTL, DWORD* effect) override { return Refuse(effect); }

private:
    static HRESULT Refuse(DWORD* effect)
    {
        *effect = DROPEFFECT_NONE;
        return S_OK;
    }
};

TEST(MainThreadApartment, OffersTheClipboardAndDragAndDropToTheBrowsers)
{
    // On a thread of its own, set up as the program's main thread is: the
    // browser controls paste through the OLE clipboard and take drops.
    HRESULT clipboard = E_FAIL, registered = E_FAIL;
    std::thread([&] {
        COleApartment apartment;
        IDataObject* data = nullptr;
        clipboard = OleGetClipboard(&data);
        if (data) data->Release();
        HWND window = CreateWindowW(L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
        CRefusingDropTarget target;
        registered = RegisterDragDrop(window, &target);
        if (SUCCEEDED(registered)) RevokeDragDrop(window);
        DestroyWindow(window);
    }).join();
    EXPECT_EQ(S_OK, clipboard);
    EXPECT_EQ(S_OK, registered);
}

}  // namespace
