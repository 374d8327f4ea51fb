#include "platform/thread.h"

#include <pthread.h>
#include <unistd.h>

#include <new>

#include "platform/thread_start.h"

namespace {

class CPosixThread : public CThread {
public:
    ~CPosixThread() override
    {
        if (m_bJoinable) pthread_detach(m_thread);
    }
    void Join() override
    {
        if (!m_bJoinable) return;
        pthread_join(m_thread, nullptr);
        m_bJoinable = false;
    }

    pthread_t m_thread{};
    bool m_bJoinable = false;
};

void* Entry(void* argument)
{
    RunThreadBody(argument);
    return nullptr;
}

}  // namespace

std::unique_ptr<CThread> StartPlatformThread(void* argument)
{
    std::unique_ptr<CPosixThread> thread(new (std::nothrow) CPosixThread());
    if (!thread || pthread_create(&thread->m_thread, nullptr, Entry, argument) != 0) return nullptr;
    thread->m_bJoinable = true;
    return thread;
}

uint32_t CurrentProcessId()
{
    return static_cast<uint32_t>(getpid());
}
