#include "server/cache_account.h"

#include <algorithm>
#include <chrono>
#include <new>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/event_log.h"
#include "platform/file_system.h"
#include "server/resource_cache.h"

namespace {

const size_t CACHE_NAME_CHARS = 32;

int64_t NowSeconds()
{
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

int64_t NowMicroseconds()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace

uint64_t DefaultCacheLimit(uint64_t nFreeBytes)
{
    uint64_t limit = nFreeBytes / 5;
    if (limit > CACHE_LIMIT_CEILING) limit = CACHE_LIMIT_CEILING;
    if (limit < CACHE_LIMIT_FLOOR) limit = CACHE_LIMIT_FLOOR;
    return limit;
}

bool IsCacheFileName(const std::string& name)
{
    if (name.size() != CACHE_NAME_CHARS) return false;
    for (char c : name) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    }
    return true;
}

size_t CCacheAccount::KeyHash::operator()(const Key& key) const
{
    return std::hash<std::string_view>()(std::string_view(key.data(), key.size()));
}

bool CCacheAccount::MakeKey(const std::string& name, Key* pKey)
{
    if (name.size() != CACHE_NAME_CHARS) return false;
    std::copy(name.begin(), name.end(), pKey->begin());
    return true;
}

CCacheAccount::~CCacheAccount()
{
    {
        std::lock_guard<std::shared_mutex> alone(m_lock);
        m_bStopping = true;
    }
    std::lock_guard<std::mutex> working(m_workLock);
    if (m_pWorker) m_pWorker->Join();
}

void CCacheAccount::Start(const std::string& folder, uint64_t nLimit, const std::string& ownTemporaryMark)
{
    m_folder = folder;
    m_nLimit = nLimit;
    m_ownTemporaryMark = ownTemporaryMark;
    // Connection threads may already be asking: they read the folder and the
    // bound only once they see the account started.
    m_bStarted.store(true, std::memory_order_release);
    RequestWork(true, false);
}

void CCacheAccount::RecordRemoval(const std::string& name)
{
    Key key;
    if (!m_bStarted.load(std::memory_order_acquire) || !MakeKey(name, &key)) return;
    std::lock_guard<std::shared_mutex> alone(m_lock);
    auto entry = m_entries.find(key);
    if (entry == m_entries.end()) return;
    m_nTotal -= static_cast<uint64_t>(entry->second.nSize);
    m_entries.erase(entry);
}

bool CCacheAccount::Fits(int64_t nSize) const
{
    if (nSize < 0) return false;
    return !m_bStarted.load(std::memory_order_acquire) || static_cast<uint64_t>(nSize) <= m_nLimit / 10 * 9;
}

void CCacheAccount::RecordUse(const std::string& name, int64_t nSize)
{
    Key key;
    if (!m_bStarted.load(std::memory_order_acquire) || !MakeKey(name, &key)) return;
    const int64_t now = NowSeconds();
    bool refresh = false;
    try {
        std::shared_lock<std::shared_mutex> shared(m_lock);
        auto found = m_entries.find(key);
        if (found != m_entries.end() && found->second.nSize == nSize) {
            Entry& entry = found->second;
            entry.nLastUse.store(NowMicroseconds(), std::memory_order_relaxed);
            entry.bTouched.store(true, std::memory_order_relaxed);
            int64_t modified = entry.nModified.load(std::memory_order_relaxed);
            // One hit of many refreshes the file's time.
            refresh = now - modified >= REFRESH_SECONDS &&
                      entry.nModified.compare_exchange_strong(modified, now, std::memory_order_relaxed);
        } else {
            shared.unlock();
            // Served before the count reached it, or changed since: its
            // modification time is not known, so it is set now.
            std::lock_guard<std::shared_mutex> alone(m_lock);
            Entry& entry = m_entries[key];
            m_nTotal = m_nTotal - static_cast<uint64_t>(entry.nSize) + static_cast<uint64_t>(nSize);
            entry.nSize = nSize;
            entry.nLastUse.store(NowMicroseconds(), std::memory_order_relaxed);
            entry.bTouched.store(true, std::memory_order_relaxed);
            refresh = now - entry.nModified.load(std::memory_order_relaxed) >= REFRESH_SECONDS;
            if (refresh) entry.nModified.store(now, std::memory_order_relaxed);
        }
    } catch (const std::bad_alloc&) {
        return;
    }
    // The file's time carries the order across restarts, a day at a time.
    if (refresh) SetModifiedTime(m_folder + name, now);
}

void CCacheAccount::RecordStore(const std::string& name, int64_t nSize)
{
    Key key;
    if (!m_bStarted.load(std::memory_order_acquire) || !MakeKey(name, &key)) return;
    bool over = false;
    bool count = false;
    try {
        std::lock_guard<std::shared_mutex> alone(m_lock);
        Entry& entry = m_entries[key];
        m_nTotal = m_nTotal - static_cast<uint64_t>(entry.nSize) + static_cast<uint64_t>(nSize);
        entry.nSize = nSize;
        entry.nModified.store(NowSeconds(), std::memory_order_relaxed);
        entry.nLastUse.store(NowMicroseconds(), std::memory_order_relaxed);
        entry.bTouched.store(true, std::memory_order_relaxed);
        m_lastStored = key;
        // While the folder is being counted the total is not known yet; the
        // count makes room when it ends.
        over = m_nTotal > m_nLimit && !m_bCounting;
        // A count that failed (no memory, a listing cut short) is tried again.
        count = m_bRecount;
        m_bRecount = false;
    } catch (const std::bad_alloc&) {
        // Unrecorded: the next count finds the file.
        std::lock_guard<std::shared_mutex> alone(m_lock);
        m_bRecount = true;
        return;
    }
    if (over || count) RequestWork(count, over);
}

void CCacheAccount::RequestWork(bool bCount, bool bEvict)
{
    std::lock_guard<std::mutex> working(m_workLock);
    {
        std::lock_guard<std::shared_mutex> alone(m_lock);
        m_bCountWanted = m_bCountWanted || bCount;
        m_bEvictWanted = m_bEvictWanted || bEvict;
        // A running thread takes what is wanted before it ends.
        if (m_bWorking || m_bStopping) return;
        m_bWorking = true;
    }
    // The previous thread cleared m_bWorking as its last step: it has ended,
    // or is about to, and the join takes no longer than that.
    if (m_pWorker) m_pWorker->Join();
    m_pWorker = CThread::Start([this] { Work(); });
    if (!m_pWorker) {
        std::lock_guard<std::shared_mutex> alone(m_lock);
        m_bWorking = false;
    }
}

void CCacheAccount::Work()
{
    // An eviction that finds the folder other than the account counts it
    // again, a few times at most while something else keeps changing it.
    const int MAX_COUNTS = 3;
    int counts = 0;
    for (;;) {
        bool count, evict;
        {
            std::lock_guard<std::shared_mutex> alone(m_lock);
            count = m_bCountWanted && counts < MAX_COUNTS;
            evict = m_bEvictWanted;
            if (m_bStopping || (!count && !evict)) {
                m_bCountWanted = m_bEvictWanted = false;
                m_bWorking = false;
                return;
            }
            m_bCountWanted = m_bEvictWanted = false;
            if (count) {
                m_bCounting = true;
                for (auto& entry : m_entries) entry.second.bTouched.store(false, std::memory_order_relaxed);
            }
        }
        bool counted = false;
        bool over = false;
        bool disagree = false;
        bool firstCount = false;
        size_t nFiles = 0;
        uint64_t nBytes = 0;
        try {
            if (count) counted = CountOnce();
        } catch (const std::bad_alloc&) {
            counted = false;
        }
        {
            std::lock_guard<std::shared_mutex> alone(m_lock);
            m_bCounting = false;
            over = m_nTotal > m_nLimit;
            if (count && !counted) {
                // The account stays as it was; the next store asks again.
                m_bRecount = true;
                m_bCountWanted = m_bEvictWanted = false;
                m_bWorking = false;
                return;
            }
            if (count) ++counts;
            if (count && !m_bFirstCountLogged) {
                m_bFirstCountLogged = true;
                firstCount = true;
                nFiles = m_entries.size();
                nBytes = m_nTotal;
            }
        }
        if (firstCount) {
            LogEvent("cache: %zu files, %llu bytes in %s (bound %llu bytes)", nFiles,
                     static_cast<unsigned long long>(nBytes), m_folder.c_str(),
                     static_cast<unsigned long long>(m_nLimit));
        }
        try {
            if (over || evict) disagree = Evict();
        } catch (const std::bad_alloc&) {
            // Nothing was removed; the next store that passes the bound tries again.
            disagree = false;
        }
        if (disagree) {
            std::lock_guard<std::shared_mutex> alone(m_lock);
            m_bCountWanted = true;
        }
    }
}

bool CCacheAccount::Evict()
{
    struct Victim {
        int64_t nLastUse;
        int64_t nSize;
        Key key;
    };
    std::vector<Victim> victims;
    {
        std::lock_guard<std::shared_mutex> alone(m_lock);
        const uint64_t target = m_nLimit / 10 * 9;
        if (m_nTotal <= target) return false;
        // The least recently used first, until what goes brings the total
        // down to the target. The list is made before anything changes, so
        // that running out of memory here changes nothing.
        std::vector<Victim> all;
        all.reserve(m_entries.size());
        for (const auto& entry : m_entries) {
            if (entry.first == m_lastStored) continue;
            all.push_back(Victim{entry.second.nLastUse.load(std::memory_order_relaxed), entry.second.nSize,
                                 entry.first});
        }
        std::sort(all.begin(), all.end(), [](const Victim& a, const Victim& b) { return a.nLastUse < b.nLastUse; });
        uint64_t total = m_nTotal;
        size_t count = 0;
        while (count < all.size() && total > target) total -= static_cast<uint64_t>(all[count++].nSize);
        all.resize(count);
        victims.swap(all);
    }
    // Each file is looked at first: one that is gone already (cleared,
    // removed by someone else) or not what the account says means the
    // account and the folder disagree. Only a file that is gone leaves the
    // account; one that cannot be removed (read-only, held open) stays
    // counted.
    bool disagree = false;
    size_t gone = 0;
    for (Victim& victim : victims) {
        std::string path = m_folder + std::string(victim.key.data(), victim.key.size());
        int64_t onDisk = 0;
        bool there = FileSizeOf(path, &onDisk);
        if (!there || onDisk != victim.nSize) disagree = true;
        if (there && !RemoveFile(path)) continue;
        victims[gone++] = victim;
    }
    std::lock_guard<std::shared_mutex> alone(m_lock);
    for (size_t i = 0; i < gone; ++i) {
        auto entry = m_entries.find(victims[i].key);
        // Served or stored again since it was chosen: it is the newer file's.
        if (entry == m_entries.end() ||
            entry->second.nLastUse.load(std::memory_order_relaxed) != victims[i].nLastUse) {
            continue;
        }
        m_nTotal -= static_cast<uint64_t>(entry->second.nSize);
        m_entries.erase(entry);
    }
    return disagree;
}

bool CCacheAccount::CountOnce()
{
    struct Found {
        int64_t nSize;
        int64_t nModified;
    };
    std::unordered_map<Key, Found, KeyHash> found;
    bool listed = ListFolder(m_folder, [&](const FolderEntry& file) {
        Key key;
        if (IsCacheFileName(file.name) && MakeKey(file.name, &key)) {
            found[key] = Found{file.nSize, file.nModified};
        } else if (IsTemporaryCacheName(file.name) &&
                   file.name.compare(CACHE_NAME_CHARS, m_ownTemporaryMark.size(), m_ownTemporaryMark) != 0) {
            // Left half-written by an earlier process.
            RemoveFile(m_folder + file.name);
        }
    });
    // A listing that failed or stopped early (no descriptor left, a read
    // error) says nothing of the files it did not see.
    if (!listed) return false;

    std::lock_guard<std::shared_mutex> alone(m_lock);
    // What the folder holds joins the account first: should memory run out
    // on the way, the account holds only files that are there, and nothing
    // has left it.
    for (const auto& file : found) {
        auto known = m_entries.find(file.first);
        if (known == m_entries.end()) {
            // Its modification time says when it was last used.
            Entry& entry = m_entries[file.first];
            entry.nSize = file.second.nSize;
            entry.nModified.store(file.second.nModified, std::memory_order_relaxed);
            entry.nLastUse.store(file.second.nModified * 1000000, std::memory_order_relaxed);
            m_nTotal += static_cast<uint64_t>(entry.nSize);
        } else if (!known->second.bTouched.load(std::memory_order_relaxed)) {
            m_nTotal = m_nTotal - static_cast<uint64_t>(known->second.nSize) +
                       static_cast<uint64_t>(file.second.nSize);
            known->second.nSize = file.second.nSize;
            known->second.nModified.store(file.second.nModified, std::memory_order_relaxed);
        }
    }
    // What the folder no longer holds leaves the account, unless it was used
    // or stored after the count began.
    for (auto entry = m_entries.begin(); entry != m_entries.end();) {
        if (!entry->second.bTouched.load(std::memory_order_relaxed) && !found.count(entry->first)) {
            m_nTotal -= static_cast<uint64_t>(entry->second.nSize);
            entry = m_entries.erase(entry);
        } else {
            ++entry;
        }
    }
    return true;
}

bool CCacheAccount::WaitUntilCounted(int nTimeoutMs)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(nTimeoutMs);
    for (;;) {
        {
            std::lock_guard<std::shared_mutex> alone(m_lock);
            if (!m_bWorking && !m_bCountWanted && !m_bEvictWanted) return true;
        }
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

uint64_t CCacheAccount::TotalBytes()
{
    std::lock_guard<std::shared_mutex> alone(m_lock);
    return m_nTotal;
}
