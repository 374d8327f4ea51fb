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

HRESULT CAppModule::Init(HINSTANCE)
{
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
