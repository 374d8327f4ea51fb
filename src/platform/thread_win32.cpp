#include "platform/thread.h"

#include <windows.h>
#include <process.h>

#include <new>

#include "platform/thread_start.h"

namespace {

const unsigned int SERVER_THREAD_EXIT_CODE = 4660;

class CWin32Thread : public CThread {
public:
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

    HANDLE m_handle = nullptr;
};

unsigned int __stdcall Entry(void* argument)
{
    RunThreadBody(argument);
    return SERVER_THREAD_EXIT_CODE;
}

}  // namespace

std::unique_ptr<CThread> StartPlatformThread(void* argument)
{
    std::unique_ptr<CWin32Thread> thread(new (std::nothrow) CWin32Thread());
    if (!thread) return nullptr;
    uintptr_t handle = _beginthreadex(nullptr, static_cast<unsigned int>(THREAD_STACK_RESERVE_BYTES), Entry, argument,
                                      STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (!handle) return nullptr;
    thread->m_handle = reinterpret_cast<HANDLE>(handle);
    return thread;
}

uint32_t CurrentProcessId()
{
    return static_cast<uint32_t>(GetCurrentProcessId());
}
