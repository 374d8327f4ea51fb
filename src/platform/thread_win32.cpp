#include "platform/thread.h"

#include <windows.h>
#include <process.h>

#include <new>

namespace {

const unsigned int SERVER_THREAD_EXIT_CODE = 4660;

class CWin32Thread : public CThread {
public:
    explicit CWin32Thread(HANDLE handle) : m_handle(handle) {}
    void Adopt(HANDLE handle) { m_handle = handle; }
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
    std::unique_ptr<CWin32Thread> thread(new (std::nothrow) CWin32Thread(nullptr));
    auto* argument = new (std::nothrow) std::function<void()>(std::move(body));
    if (!thread || !argument) {
        delete argument;
        return nullptr;
    }
    uintptr_t handle = _beginthreadex(nullptr, static_cast<unsigned int>(THREAD_STACK_RESERVE_BYTES), Entry, argument,
                                      STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (!handle) {
        delete argument;
        return nullptr;
    }
    thread->Adopt(reinterpret_cast<HANDLE>(handle));
    return thread;
}

uint32_t CurrentProcessId()
{
    return static_cast<uint32_t>(GetCurrentProcessId());
}
