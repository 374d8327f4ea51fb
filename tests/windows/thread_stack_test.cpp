// How deep a connection thread's stack goes while it fetches through WinInet,
// with and without the proxy configuration, against the stack that the
// server's threads reserve: the deepest use must leave at least half of the
// reserve free.
#include "platform/thread.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>

#include "base/out_buf.h"
#include "net/download_client.h"
#include "test_origin_client.h"

namespace {

const uint32_t PAINT = 0x5A17C0DEu;
// Left unpainted at the bottom of the reservation: its last pages are the
// guard that a growing stack must never touch.
const uintptr_t GUARD_MARGIN = 64 * 1024;

struct StackUse {
    size_t nReserve = 0;   // the thread's stack reservation
    size_t nDeepest = 0;   // from the top of the reservation to the deepest byte written
};

// Runs work on the calling thread with the unused part of its stack painted
// first, then finds the deepest painted word that work overwrote. The
// painting runs from just below this frame downwards, page after page, as a
// growing stack would commit them.
__attribute__((noinline)) StackUse MeasureStack(void (*work)())
{
    volatile char here = 0;
    MEMORY_BASIC_INFORMATION region = {};
    VirtualQuery(const_cast<char*>(&here), &region, sizeof(region));
    const uintptr_t bottom = reinterpret_cast<uintptr_t>(region.AllocationBase) + GUARD_MARGIN;
    const uintptr_t top = reinterpret_cast<uintptr_t>(region.BaseAddress) + region.RegionSize;
    const uintptr_t start = (reinterpret_cast<uintptr_t>(&here) - 4096) & ~static_cast<uintptr_t>(3);
    for (uintptr_t at = start; at >= bottom; at -= sizeof(uint32_t)) *reinterpret_cast<volatile uint32_t*>(at) = PAINT;
    work();
    uintptr_t deepest = start;
    for (uintptr_t at = bottom; at < start; at += sizeof(uint32_t)) {
        if (*reinterpret_cast<volatile uint32_t*>(at) != PAINT) {
            deepest = at;
            break;
        }
    }
    StackUse use;
    use.nReserve = top - reinterpret_cast<uintptr_t>(region.AllocationBase);
    use.nDeepest = top - deepest;
    return use;
}

void FetchDirect()
{
    std::unique_ptr<IHttpSession> session = SystemHttpTransport().Open("Agent1", false, HttpText::ANSI);
    COutBuf body;
    if (session) FetchWithHandle(*session, OriginUrl("/len/70000").c_str(), "", &body);
}

void FetchThroughProxySettings()
{
    std::unique_ptr<IHttpSession> session = SystemHttpTransport().Open("win", true, HttpText::ANSI);
    COutBuf body;
    if (session) FetchWithHandle(*session, OriginUrl("/len/70000").c_str(), "", &body);
}

TEST(ServerThreadStack, AFetchUsesAtMostHalfTheReserve)
{
    struct Case {
        const char* name;
        void (*fetch)();
    };
    const Case cases[] = {{"without proxy", FetchDirect}, {"with the proxy configuration", FetchThroughProxySettings}};
    for (const Case& c : cases) {
        StackUse use;
        std::unique_ptr<CThread> thread = CThread::Start([&] { use = MeasureStack(c.fetch); });
        ASSERT_TRUE(thread);
        thread->Join();
        std::printf("%s: %zu bytes of stack (%zu reserved here, %zu asked for)\n", c.name, use.nDeepest,
                    use.nReserve, THREAD_STACK_RESERVE_BYTES);
        EXPECT_LE(use.nDeepest * 2, THREAD_STACK_RESERVE_BYTES) << c.name;
        EXPECT_GE(use.nReserve, THREAD_STACK_RESERVE_BYTES) << c.name;
    }
}

}  // namespace
