// A joinable thread. On Windows every thread made here ends with exit code
// 4660, the mark of the server's threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

// The address space each thread made here reserves for its stack on Windows
// (POSIX threads keep the system's default). A fetch's deepest use measured
// under Wine is about 20 KiB, with and without the proxy configuration
// (tests/windows/thread_stack_test.cpp); Windows may run proxy
// auto-detection in the fetching thread, which cannot be measured here, so
// the reserve is 25 times that. For 1,000 connections: 1,000 x (512 KiB
// stack + 512 KiB receive area) = 1,000 MiB, half of the 2 GiB that a
// large-address-aware 32-bit process has on 32-bit Windows and a quarter of
// its 4 GiB on 64-bit Windows; the heap and the bodies have the rest. (Wine
// reserves at least 1 MiB for any thread, whatever is asked.)
const size_t THREAD_STACK_RESERVE_BYTES = 512 * 1024;

class CThread {
public:
    // Starts body on a new thread; null when the thread cannot be created.
    static std::unique_ptr<CThread> Start(std::function<void()> body);
    virtual ~CThread() = default;
    // Waits until the thread has exited and releases it. Call once.
    virtual void Join() = 0;
};

// The running process's id.
uint32_t CurrentProcessId();
