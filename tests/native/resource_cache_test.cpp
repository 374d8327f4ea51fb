// The cache's folders, and its merged misses with a scripted upstream:
// whatever ends the thread that fetches a path, the threads waiting for it
// are answered and the path can be fetched again.
#include "server/resource_cache.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <new>
#include <thread>
#include <vector>

#include "platform/file_system.h"
#include "scratch_dir.h"
#include "scripted_transport.h"

namespace {

const std::string PATH = "/wz_cdn/cdn/a.png";
const auto DEADLINE = std::chrono::seconds(10);

bool WaitFor(const std::function<bool()>& condition)
{
    auto deadline = std::chrono::steady_clock::now() + DEADLINE;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

std::vector<uint8_t> Bytes(const std::string& text)
{
    return std::vector<uint8_t>(text.begin(), text.end());
}

TEST(ResourceCache, WhateverEndsALeaderItsWaitersAreAnsweredAndTheNextMissFetchesAgain)
{
    struct Case {
        const char* name;
        ScriptedAnswer answer;
        int32_t nServed;   // what every waiter is answered with
        bool bStored;
    };
    const Case cases[] = {
        {"whole body", {ScriptedAnswer::NONE, 5, Bytes("hello")}, 5, true},
        {"body cut short", {ScriptedAnswer::NONE, 10, Bytes("hello")}, 5, false},
        {"request not opened", {ScriptedAnswer::OPEN_FAILS, 0, {}}, 0, false},
        {"out of memory while opening", {ScriptedAnswer::THROW_ON_OPEN, 0, {}}, 0, false},
        {"out of memory while reading", {ScriptedAnswer::THROW_ON_READ, 5, Bytes("hello")}, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir dir;
        ScriptedTransport upstream(c.answer);
        CResourceCache cache;
        cache.Configure(dir.Root() + PATH_SEPARATOR, "http://upstream", upstream);
        auto obtain = [&cache]() -> SharedOutBuf {
            try {
                return cache.Obtain(PATH);
            } catch (const std::bad_alloc&) {
                return nullptr;
            }
        };

        upstream.Hold();
        std::future<SharedOutBuf> leader = std::async(std::launch::async, obtain);
        ASSERT_TRUE(WaitFor([&] { return upstream.Opens() == 1; }));
        std::vector<std::future<SharedOutBuf>> waiters;
        for (int i = 0; i < 3; ++i) waiters.push_back(std::async(std::launch::async, obtain));
        ASSERT_TRUE(WaitFor([&] { return cache.WaitersOf(PATH) == 3; }));
        upstream.Release();

        ASSERT_EQ(std::future_status::ready, leader.wait_for(DEADLINE));
        SharedOutBuf led = leader.get();
        for (std::future<SharedOutBuf>& waiter : waiters) {
            ASSERT_EQ(std::future_status::ready, waiter.wait_for(DEADLINE)) << "a waiter was never answered";
            SharedOutBuf body = waiter.get();
            ASSERT_TRUE(body);
            EXPECT_EQ(c.nServed, body->GetLength());
            // The leader's body is shared with its waiters, not copied.
            if (led) {
                EXPECT_EQ(led.get(), body.get());
            }
        }
        EXPECT_EQ(1, upstream.Opens()) << "the misses were not merged";
        EXPECT_EQ(c.bStored, PathExists(cache.FilePath(PATH)));

        // The path is free again: a stored body is read from its file, any
        // other outcome is fetched anew.
        SharedOutBuf again = obtain();
        EXPECT_EQ(c.bStored ? 1 : 2, upstream.Opens());
        if (c.bStored) {
            EXPECT_EQ(c.nServed, again->GetLength());
        }
    }
}

TEST(MakeDirs, CreatesEveryMissingFolder)
{
    ScratchDir dir;
    // Both separators count; a path ending in one names its last folder twice.
    EXPECT_EQ(-1, MakeDirs(dir.Root() + "/a/b/c/"));
    EXPECT_TRUE(PathExists(dir.Root() + "/a/b/c"));
    EXPECT_EQ(0, MakeDirs(dir.Root() + "/x/y"));
    EXPECT_TRUE(PathExists(dir.Root() + "/x/y"));
    EXPECT_EQ(0, MakeDirs(""));
    EXPECT_EQ(-1, MakeDirs("/proc/quillet-no/such"));
}

}  // namespace
