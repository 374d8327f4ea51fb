// CCacheAccount: what the cache folder holds, kept within a bound. It knows
// the cache files (counted once at start, on a thread of its own), their
// sizes and when each was last served, and when a store takes the total
// past the bound it removes the least recently served files until the total
// is 90 % of the bound. The folder is shared with cache clearing and with
// anything else on the machine, so the account heals itself: a file found
// gone leaves it, a file is looked at before it is removed, and the folder
// is counted afresh when the two disagree.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <memory_resource>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <unordered_map>

#include "platform/system_memory.h"
#include "platform/thread.h"

// Bounds of the default limit: the smaller of 8 GiB and a fifth of the free
// space of the cache's drive, but never less than 1 GiB.
const uint64_t CACHE_LIMIT_CEILING = 8ull << 30;
const uint64_t CACHE_LIMIT_FLOOR = 1ull << 30;
uint64_t DefaultCacheLimit(uint64_t nFreeBytes);

// True for a cache file's name: 32 lowercase hexadecimal digits. Nothing
// else in the folder is the account's.
bool IsCacheFileName(const std::string& name);

class CCacheAccount {
public:
    // A file's modification time records its last use across restarts; it
    // is refreshed at most this often.
    static constexpr int64_t REFRESH_SECONDS = 24 * 3600;

    CCacheAccount() = default;
    // Waits for the maintenance in progress.
    ~CCacheAccount();
    CCacheAccount(const CCacheAccount&) = delete;
    CCacheAccount& operator=(const CCacheAccount&) = delete;

    // Keeps the account of folder (ending with the separator) within nLimit
    // bytes. Counts the folder on a thread of its own and removes, as it
    // goes, the temporary files that earlier processes left (every
    // IsTemporaryCacheName that does not hold ownTemporaryMark after its 32
    // digits). Call once; the other members may be called from any thread
    // before, during and after it.
    void Start(const std::string& folder, uint64_t nLimit, const std::string& ownTemporaryMark);

    // A cache file was served: it becomes the most recently used. Both
    // records do nothing before Start, and nothing when memory runs out (the
    // next count finds the file).
    void RecordUse(const std::string& name, int64_t nSize);
    // A cache file was stored (or replaced). When the total passes the
    // bound, the least recently used files are removed, this one last, on
    // the account's own thread: the caller never waits for it.
    void RecordStore(const std::string& name, int64_t nSize);
    // A cache file was removed: it leaves the account.
    void RecordRemoval(const std::string& name);
    // Whether a body of nSize bytes may be kept at all: at most 90 % of the
    // bound, the total an eviction pass leaves (anything, before Start).
    bool Fits(int64_t nSize) const;

    // For tests: waits up to nTimeoutMs until no count or eviction is
    // running or wanted; false when one still is by then.
    bool WaitUntilCounted(int nTimeoutMs);
    // The bytes of the files the account knows.
    uint64_t TotalBytes();

private:
    // A cache file's name, held without an allocation of its own.
    using Key = std::array<char, 32>;
    struct KeyHash {
        size_t operator()(const Key& key) const;
    };
    static bool MakeKey(const std::string& name, Key* pKey);

    // What a hit changes is atomic, so that hits share the lock (a hit must
    // cost no more than a file open does); stores, counts and evictions hold
    // it alone. The order of use is found when an eviction needs it.
    struct Entry {
        int64_t nSize = 0;
        std::atomic<int64_t> nLastUse{0};    // microseconds since 1970
        std::atomic<int64_t> nModified{0};   // the file's modification time as last known, seconds
        std::atomic<bool> bTouched{false};   // used or stored since the last count began
    };

    // Asks the account's thread for a count and or an eviction, starting
    // the thread unless it runs already (it then does them before it ends).
    void RequestWork(bool bCount, bool bEvict);
    // The account's thread: counts and evictions, one at a time, until none
    // is wanted. Whatever ends one, a failed allocation included, leaves the
    // account as it was and clears its flag.
    void Work();
    // One listing and merge; false when the listing did not end normally
    // (the account is then left as it was).
    bool CountOnce();
    // Removes the least recently used files, sparing the one stored last,
    // down to 90 % of the bound; true when the folder turned out other than
    // the account said. A file that cannot be removed stays counted.
    bool Evict();

    // Written once by Start, then published by m_bStarted.
    std::string m_folder;
    uint64_t m_nLimit = 0;
    std::string m_ownTemporaryMark;
    std::atomic<bool> m_bStarted{false};   // before Start, the account keeps nothing

    std::shared_mutex m_lock;
    // What the account holds lives in a pool of its own pages (see
    // CSystemPages), changed under the lock held alone.
    CSystemPages m_pages;
    std::pmr::unsynchronized_pool_resource m_pool{&m_pages};
    std::pmr::unordered_map<Key, Entry, KeyHash> m_entries{&m_pool};
    uint64_t m_nTotal = 0;
    Key m_lastStored{};
    bool m_bCountWanted = false;
    bool m_bEvictWanted = false;
    bool m_bRecount = false;     // a count failed: the next store asks for one
    bool m_bCounting = false;    // a count has begun and not merged: stores wait for it to make room
    bool m_bWorking = false;     // the account's thread runs, or is about to
    bool m_bStopping = false;
    bool m_bFirstCountLogged = false;   // the first count's totals went to the event log

    // Guards the start and the join of the account's thread.
    std::mutex m_workLock;
    std::unique_ptr<CThread> m_pWorker;
};
