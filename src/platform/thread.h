// A joinable thread. On Windows every thread made here ends with exit code
// 4660, the mark of the server's threads.
#pragma once

#include <functional>
#include <memory>

class CThread {
public:
    // Starts body on a new thread; null when the thread cannot be created.
    static std::unique_ptr<CThread> Start(std::function<void()> body);
    virtual ~CThread() = default;
    // Waits until the thread has exited and releases it. Call once.
    virtual void Join() = 0;
};
