// The cache's bound over a real folder: which files an eviction removes,
// what it leaves alone, the order across a restart, and a folder changed
// behind the account's back.
#include "server/cache_account.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/file_system.h"
#include "scratch_dir.h"

namespace {

const int64_t DAY = 24 * 3600;
const int64_t SIZE = 200;

int64_t Now()
{
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// A cache file name of 32 hex digits ending in c (a hex digit).
std::string Name(char c)
{
    return std::string(31, '0') + c;
}

class CacheFolder {
public:
    std::string Root() const { return m_dir.Root() + "/"; }
    // A file of size bytes last modified daysAgo days ago.
    void Put(const std::string& name, int64_t size, int64_t daysAgo)
    {
        std::ofstream(Root() + name, std::ios::binary) << std::string(static_cast<size_t>(size), 'x');
        SetModifiedTime(Root() + name, Now() - daysAgo * DAY);
    }
    bool Has(const std::string& name) const { return PathExists(Root() + name); }
    std::vector<std::string> Present(const std::string& names) const
    {
        std::vector<std::string> present;
        for (char c : names) {
            if (Has(Name(c))) present.push_back(Name(c));
        }
        return present;
    }
    std::vector<std::string> Names(const std::string& names) const
    {
        std::vector<std::string> all;
        for (char c : names) all.push_back(Name(c));
        return all;
    }

private:
    ScratchDir m_dir;
};

TEST(CacheAccount, DefaultBoundIsAFifthOfTheFreeSpaceBetweenOneAndEightGiB)
{
    const uint64_t GIB = 1ull << 30;
    EXPECT_EQ(CACHE_LIMIT_FLOOR, DefaultCacheLimit(0));
    EXPECT_EQ(CACHE_LIMIT_FLOOR, DefaultCacheLimit(4 * GIB));
    EXPECT_EQ(2 * GIB, DefaultCacheLimit(10 * GIB));
    EXPECT_EQ(CACHE_LIMIT_CEILING, DefaultCacheLimit(40 * GIB));
    EXPECT_EQ(CACHE_LIMIT_CEILING, DefaultCacheLimit(4000 * GIB));
}

TEST(CacheAccount, EvictsTheLeastRecentlyServedAndKeepsTheOrderAcrossARestart)
{
    CacheFolder folder;
    // a is the oldest on disk, e the newest; notes.txt is not the cache's.
    const std::string names = "abcde";
    for (size_t i = 0; i < names.size(); ++i) folder.Put(Name(names[i]), SIZE, 5 - static_cast<int64_t>(i));
    folder.Put("notes.txt", 5000, 30);
    {
        CCacheAccount account;
        account.Start(folder.Root(), 1000, ".part1.");
        ASSERT_TRUE(account.WaitUntilCounted(10000));
        EXPECT_EQ(1000u, account.TotalBytes());

        // a is served just before the store that passes the bound.
        account.RecordUse(Name('a'), SIZE);
        folder.Put(Name('f'), SIZE, 0);
        account.RecordStore(Name('f'), SIZE);
        ASSERT_TRUE(account.WaitUntilCounted(10000));
        EXPECT_EQ(folder.Names("adef"), folder.Present("abcdef")) << "b and c were the least recently used";
        EXPECT_LE(account.TotalBytes(), 900u);
        EXPECT_TRUE(folder.Has("notes.txt"));
        EXPECT_FALSE(account.Fits(901));
        EXPECT_TRUE(account.Fits(900));
    }
    // A new process knows the order from the files' times: a's was set when
    // it was served, so d and e go before it.
    CCacheAccount restarted;
    restarted.Start(folder.Root(), 1000, ".part2.");
    ASSERT_TRUE(restarted.WaitUntilCounted(10000));
    EXPECT_EQ(800u, restarted.TotalBytes());
    folder.Put(Name('9'), 2 * SIZE, 0);
    restarted.RecordStore(Name('9'), 2 * SIZE);
    ASSERT_TRUE(restarted.WaitUntilCounted(10000));
    EXPECT_EQ(folder.Names("9af"), folder.Present("9adef"));
    EXPECT_TRUE(folder.Has("notes.txt"));
}

TEST(CacheAccount, AFolderChangedBehindItsBackIsCountedAfresh)
{
    CacheFolder folder;
    for (char c : std::string("abcd")) folder.Put(Name(c), SIZE, 3);
    // Half-written files of an earlier process go, this process's stay.
    folder.Put(Name('7') + ".part77.1", SIZE, 1);
    folder.Put(Name('8') + ".part5", SIZE, 1);
    folder.Put(Name('9') + ".part1.2", SIZE, 0);
    CCacheAccount account;
    account.Start(folder.Root(), 1000, ".part1.");
    ASSERT_TRUE(account.WaitUntilCounted(10000));
    EXPECT_FALSE(folder.Has(Name('7') + ".part77.1"));
    EXPECT_FALSE(folder.Has(Name('8') + ".part5"));
    EXPECT_TRUE(folder.Has(Name('9') + ".part1.2"));
    EXPECT_EQ(800u, account.TotalBytes());

    // Cleared by someone else: the account still counts four files. The
    // next store passes its bound, finds them gone and counts again.
    for (char c : std::string("abcd")) RemoveFile(folder.Root() + Name(c));
    folder.Put(Name('e'), 3 * SIZE, 0);
    account.RecordStore(Name('e'), 3 * SIZE);
    ASSERT_TRUE(account.WaitUntilCounted(10000));
    EXPECT_EQ(static_cast<uint64_t>(3 * SIZE), account.TotalBytes());
    EXPECT_TRUE(folder.Has(Name('e')));
}

TEST(CacheAccount, AListingCutShortChangesNothing)
{
#ifdef __SANITIZE_ADDRESS__
    // That build's undefined-behaviour checks open a pipe of their own for
    // each virtual call, which no descriptor is left for here.
    GTEST_SKIP() << "needs descriptors that the sanitizer runtime takes";
#endif
    CacheFolder folder;
    for (char c : std::string("abcd")) folder.Put(Name(c), SIZE, c == 'a' ? 4 : 2);
    CCacheAccount account;
    account.Start(folder.Root(), 1000, ".part1.");
    ASSERT_TRUE(account.WaitUntilCounted(10000));
    ASSERT_EQ(800u, account.TotalBytes());

    // a goes behind the account's back; the store of e passes the bound, the
    // eviction finds a gone and asks for a count, whose listing fails: no
    // descriptor is left (as under a thousand connections).
    RemoveFile(folder.Root() + Name('a'));
    folder.Put(Name('e'), 300, 0);
    rlimit limit{};
    ASSERT_EQ(0, getrlimit(RLIMIT_NOFILE, &limit));
    // The lowest free descriptor: the one the next open takes.
    int lowestFree = open("/dev/null", O_RDONLY);
    ASSERT_GE(lowestFree, 0);
    close(lowestFree);
    rlimit none = limit;
    none.rlim_cur = static_cast<rlim_t>(lowestFree);
    ASSERT_EQ(0, setrlimit(RLIMIT_NOFILE, &none));
    account.RecordStore(Name('e'), 300);
    bool counted = account.WaitUntilCounted(10000);
    setrlimit(RLIMIT_NOFILE, &limit);
    ASSERT_TRUE(counted);
    // b, c and d are still there and still counted: only a left.
    EXPECT_EQ(900u, account.TotalBytes());
    EXPECT_EQ(folder.Names("bcde"), folder.Present("abcde"));
}

TEST(CacheAccount, ConnectionsMayAskWhileItStarts)
{
    // Connection threads use the account from the moment the listener
    // accepts; the ThreadSanitizer build checks that they see it start
    // safely.
    CacheFolder folder;
    folder.Put(Name('a'), SIZE, 1);
    CCacheAccount account;
    std::atomic<bool> stop{false};
    std::thread asker([&] {
        while (!stop.load()) {
            account.Fits(SIZE);
            account.RecordUse(Name('a'), SIZE);
            account.RecordStore(Name('b'), SIZE);
        }
    });
    account.Start(folder.Root(), 1000, ".part1.");
    bool counted = account.WaitUntilCounted(10000);
    stop = true;
    asker.join();
    ASSERT_TRUE(counted);
    EXPECT_FALSE(account.Fits(901));
}

}  // namespace
