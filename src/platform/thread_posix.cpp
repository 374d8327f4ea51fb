#include "platform/thread.h"

#include <pthread.h>

namespace {

class CPosixThread : public CThread {
public:
    explicit CPosixThread(pthread_t thread) : m_thread(thread) {}
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

private:
    pthread_t m_thread;
    bool m_bJoinable = true;
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
    auto* argument = new std::function<void()>(std::move(body));
    pthread_t thread;
    if (pthread_create(&thread, nullptr, Entry, argument) != 0) {
        delete argument;
        return nullptr;
    }
    return std::make_unique<CPosixThread>(thread);
}
