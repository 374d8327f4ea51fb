#include "platform/thread.h"

#include <new>

#include "platform/thread_start.h"

void RunThreadBody(void* argument)
{
    std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(argument));
    (*body)();
}

std::unique_ptr<CThread> CThread::Start(std::function<void()> body)
{
    auto* argument = new (std::nothrow) std::function<void()>(std::move(body));
    if (!argument) return nullptr;
    std::unique_ptr<CThread> thread = StartPlatformThread(argument);
    if (!thread) delete argument;
    return thread;
}
