#include "server/cache_account.h"

#include <algorithm>
#include <chrono>
#include <string_view>
#include <thread>
#include <vector>

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
    std::lock_guard<std::mutex> counting(m_countLock);
    if (m_pCounter) m_pCounter->Join();
}

void CCacheAccount::Start(const std::string& folder, uint64_t nLimit, const std::string& ownTemporaryMark)
{
    m_folder = folder;
    m_nLimit = nLimit;
    m_ownTemporaryMark = ownTemporaryMark;
    m_bStarted = true;
    StartCount();
}

bool CCacheAccount::Fits(int64_t nSize) const
{
    return nSize >= 0 && (!m_bStarted || static_cast<uint64_t>(nSize) <= m_nLimit / 10 * 9);
}

void CCacheAccount::RecordUse(const std::string& name, int64_t nSize)
{
    Key key;
    if (!m_bStarted || !MakeKey(name, &key)) return;
    const int64_t now = NowSeconds();
    bool refresh = false;
    {
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
    }
    // The file's time carries the order across restarts, a day at a time.
    if (refresh) SetModifiedTime(m_folder + name, now);
}

void CCacheAccount::RecordStore(const std::string& name, int64_t nSize)
{
    Key key;
    if (!m_bStarted || !MakeKey(name, &key)) return;
    bool over = false;
    {
        std::lock_guard<std::shared_mutex> alone(m_lock);
        Entry& entry = m_entries[key];
        m_nTotal = m_nTotal - static_cast<uint64_t>(entry.nSize) + static_cast<uint64_t>(nSize);
        entry.nSize = nSize;
        entry.nModified.store(NowSeconds(), std::memory_order_relaxed);
        entry.nLastUse.store(NowMicroseconds(), std::memory_order_relaxed);
        entry.bTouched.store(true, std::memory_order_relaxed);
        // While the folder is being counted the total is not known yet; the
        // count makes room when it ends.
        over = m_nTotal > m_nLimit && !m_bCounting;
    }
    if (over && Evict(&key)) StartCount();
}

bool CCacheAccount::Evict(const Key* keep)
{
    struct Victim {
        int64_t nLastUse;
        int64_t nSize;
        Key key;
    };
    std::vector<Victim> victims;
    {
        std::lock_guard<std::shared_mutex> alone(m_lock);
        if (m_bEvicting) return false;
        m_bEvicting = true;
        const uint64_t target = m_nLimit / 10 * 9;
        if (m_nTotal > target) {
            // The least recently used first, until what goes brings the
            // total down to the target.
            std::vector<Victim> all;
            all.reserve(m_entries.size());
            for (const auto& entry : m_entries) {
                if (keep && entry.first == *keep) continue;
                all.push_back(Victim{entry.second.nLastUse.load(std::memory_order_relaxed), entry.second.nSize,
                                     entry.first});
            }
            std::sort(all.begin(), all.end(),
                      [](const Victim& a, const Victim& b) { return a.nLastUse < b.nLastUse; });
            uint64_t total = m_nTotal;
            for (const Victim& victim : all) {
                if (total <= target) break;
                total -= static_cast<uint64_t>(victim.nSize);
                victims.push_back(victim);
            }
            // They leave the account before their files go.
            for (const Victim& victim : victims) m_entries.erase(victim.key);
            m_nTotal = total;
        }
    }
    bool disagree = false;
    for (const Victim& victim : victims) {
        // The file is looked at first: one that is gone already (cleared,
        // removed by someone else) or not what the account says means the
        // account and the folder disagree.
        std::string path = m_folder + std::string(victim.key.data(), victim.key.size());
        int64_t onDisk = 0;
        if (!FileSizeOf(path, &onDisk)) {
            disagree = true;
            continue;
        }
        if (onDisk != victim.nSize) disagree = true;
        RemoveFile(path);
    }
    std::lock_guard<std::shared_mutex> alone(m_lock);
    m_bEvicting = false;
    return disagree;
}

void CCacheAccount::StartCount()
{
    std::lock_guard<std::mutex> starting(m_countLock);
    {
        std::lock_guard<std::shared_mutex> alone(m_lock);
        if (m_bCounting || m_bStopping) return;
        m_bCounting = true;
        for (auto& entry : m_entries) entry.second.bTouched.store(false, std::memory_order_relaxed);
    }
    // The previous count has ended: only its thread is left to join.
    if (m_pCounter) m_pCounter->Join();
    m_pCounter = CThread::Start([this] { Count(); });
    if (!m_pCounter) {
        std::lock_guard<std::shared_mutex> alone(m_lock);
        m_bCounting = false;
    }
}

void CCacheAccount::Count()
{
    // An eviction that finds the folder other than the account counts it
    // again, a few times at most while something else keeps changing it.
    const int MAX_COUNTS = 3;
    for (int count = 1;; ++count) {
        bool over = CountOnce();
        if (!over || !Evict(nullptr) || count == MAX_COUNTS) return;
        std::lock_guard<std::shared_mutex> alone(m_lock);
        if (m_bStopping) return;
        m_bCounting = true;
        for (auto& entry : m_entries) entry.second.bTouched.store(false, std::memory_order_relaxed);
    }
}

bool CCacheAccount::CountOnce()
{
    struct Found {
        int64_t nSize;
        int64_t nModified;
    };
    std::unordered_map<Key, Found, KeyHash> found;
    ListFolder(m_folder, [&](const FolderEntry& file) {
        Key key;
        if (IsCacheFileName(file.name) && MakeKey(file.name, &key)) {
            found[key] = Found{file.nSize, file.nModified};
        } else if (IsTemporaryCacheName(file.name) &&
                   file.name.compare(CACHE_NAME_CHARS, m_ownTemporaryMark.size(), m_ownTemporaryMark) != 0) {
            // Left half-written by an earlier process.
            RemoveFile(m_folder + file.name);
        }
    });

    std::lock_guard<std::shared_mutex> alone(m_lock);
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
    m_bCounting = false;
    return m_nTotal > m_nLimit && !m_bStopping;
}

bool CCacheAccount::WaitUntilCounted(int nTimeoutMs)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(nTimeoutMs);
    for (;;) {
        {
            std::lock_guard<std::shared_mutex> alone(m_lock);
            if (!m_bCounting && !m_bEvicting) return true;
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
