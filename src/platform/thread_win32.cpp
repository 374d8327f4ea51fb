#include "platform/thread.h"

#include <windows.h>
#include <process.h>

namespace {

const unsigned int SERVER_THREAD_EXIT_CODE = 4660;

class CWin32Thread : public CThread {
public:
    explicit CWin32Thread(HANDLE handle) : m_handle(handle) {}
    ~CWin32Thread() override
    {
        if (m_handle) CloseHandle(m_handle);
    }
    void Join() override
    {
        if (!m_handle) return;
        WaitForSingleObject(m_handle, INFINITE);
        CloseHandle(m_handle);
        m_handle = nullptr;
    }

private:
    HANDLE m_handle;
};

unsigned int __stdcall Entry(void* argument)
{
    std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(argument));
    (*body)();
    return SERVER_THREAD_EXIT_CODE;
}

}  // namespace

std::unique_ptr<CThread> CThread::Start(std::function<void()> body)
{
    auto* argument = new std::function<void()>(std::move(body));
    uintptr_t handle = _beginthreadex(nullptr, 0, Entry, argument, 0, nullptr);
    if (!handle) {
        delete argument;
        return nullptr;
    }
    return std::make_unique<CWin32Thread>(reinterpret_cast<HANDLE>(handle));
}
