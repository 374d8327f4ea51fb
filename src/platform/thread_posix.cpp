#include "platform/thread.h"

#include <pthread.h>
#include <unistd.h>

#include <new>

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
    std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(argument));
    (*body)();
    return nullptr;
}

}  // namespace

std::unique_ptr<CThread> CThread::Start(std::function<void()> body)
{
    std::unique_ptr<CPosixThread> thread(new (std::nothrow) CPosixThread());
    auto* argument = new (std::nothrow) std::function<void()>(std::move(body));
    if (!thread || !argument) {
        delete argument;
        return nullptr;
    }
    if (pthread_create(&thread->m_thread, nullptr, Entry, argument) != 0) {
        delete argument;
        return nullptr;
    }
    thread->m_bJoinable = true;
    return thread;
}

uint32_t CurrentProcessId()
{
    return static_cast<uint32_t>(getpid());
}
