#include "ui/framework/message_loop.h"

#include <algorithm>

namespace {

template <typename T>
BOOL AddOnce(std::vector<T*>& items, T* item)
{
    if (!item || std::find(items.begin(), items.end(), item) != items.end()) return FALSE;
    items.push_back(item);
    return TRUE;
}

template <typename T>
BOOL RemoveItem(std::vector<T*>& items, T* item)
{
    auto found = std::find(items.begin(), items.end(), item);
    if (found == items.end()) return FALSE;
    items.erase(found);
    return TRUE;
}

}  // namespace

BOOL CMessageLoop::AddMessageFilter(CMessageFilter* pFilter)
{
    return AddOnce(m_filters, pFilter);
}

BOOL CMessageLoop::RemoveMessageFilter(CMessageFilter* pFilter)
{
    return RemoveItem(m_filters, pFilter);
}

BOOL CMessageLoop::AddIdleHandler(CIdleHandler* pHandler)
{
    return AddOnce(m_idleHandlers, pHandler);
}

BOOL CMessageLoop::RemoveIdleHandler(CIdleHandler* pHandler)
{
    return RemoveItem(m_idleHandlers, pHandler);
}

BOOL CMessageLoop::PreTranslateMessage(MSG* pMsg)
{
    // A filter may remove itself while handling, so walk a copy.
    std::vector<CMessageFilter*> filters(m_filters.rbegin(), m_filters.rend());
    for (CMessageFilter* filter : filters) {
        if (filter->PreTranslateMessage(pMsg)) return TRUE;
    }
    return FALSE;
}

BOOL CMessageLoop::OnIdle()
{
    BOOL more = FALSE;
    std::vector<CIdleHandler*> handlers(m_idleHandlers);
    for (CIdleHandler* handler : handlers) {
        if (handler->OnIdle()) more = TRUE;
    }
    return more;
}

int CMessageLoop::Run()
{
    MSG msg = {};
    bool idle = true;
    for (;;) {
        while (idle && !PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
            if (!OnIdle()) idle = false;
        }
        BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == -1) continue;
        if (!got) break;
        if (!PreTranslateMessage(&msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        idle = true;
    }
    return static_cast<int>(msg.wParam);
}

HRESULT CAppModule::Init(HINSTANCE hInstance)
{
    m_hInstance = hInstance;
    return S_OK;
}

void CAppModule::Term()
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_loops.clear();
}

BOOL CAppModule::AddMessageLoop(CMessageLoop* pLoop)
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_loops.emplace(GetCurrentThreadId(), pLoop).second ? TRUE : FALSE;
}

BOOL CAppModule::RemoveMessageLoop()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_loops.erase(GetCurrentThreadId()) ? TRUE : FALSE;
}

CMessageLoop* CAppModule::GetMessageLoop() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    auto found = m_loops.find(GetCurrentThreadId());
    return found == m_loops.end() ? nullptr : found->second;
}
