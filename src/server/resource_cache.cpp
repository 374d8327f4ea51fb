#include "server/resource_cache.h"

#include "net/download_client.h"
#include "net/md5.h"
#include "platform/event_log.h"
#include "platform/file_system.h"
#include "platform/thread.h"

#include <algorithm>
#include <chrono>
#include <initializer_list>
#include <thread>

namespace {

const size_t MD5_TEXT_CHARS = 32;
const char TEMPORARY_MARK[] = ".part";

// Only a path that starts with "/" is appended to the upstream base: any
// other text would run into the address's host part ("@host/..." would send
// the request to another host, with the configured one as a user name).
bool IsFetchablePath(const std::string& path)
{
    if (path.empty() || path[0] != '/') return false;
    for (unsigned char c : path) {
        if (c <= 0x20 || c == 0x7F) return false;
    }
    return true;
}

bool IsDigits(const std::string& text, size_t from, size_t to)
{
    if (from >= to) return false;
    for (size_t i = from; i < to; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
    }
    return true;
}

}  // namespace

int MakeDirs(const std::string& path)
{
    if (path.empty()) return 0;
    std::string copy = path;
    for (size_t i = 0; i < copy.size(); ++i) {
        if (copy[i] != '\\' && copy[i] != '/') continue;
        std::string prefix = copy.substr(0, i);
        // The file system's root and a bare drive ("C:") need no creation.
        bool isRoot = prefix.empty() || (prefix.size() == 2 && prefix[1] == ':');
        if (!isRoot && !PathExists(prefix) && !MakeDirectory(prefix)) return -1;
        copy[i] = '/';
    }
    return MakeDirectory(copy) ? 0 : -1;
}

std::string CacheRootUnder(const std::string& baseDirectory)
{
    std::string root = baseDirectory;
    for (const char* part : {"wz_cdn", "cdn"}) {
        root += PATH_SEPARATOR;
        root += part;
    }
    root += PATH_SEPARATOR;
    return root;
}

bool IsTemporaryCacheName(const std::string& name)
{
    const size_t mark = sizeof(TEMPORARY_MARK) - 1;
    if (name.size() <= MD5_TEXT_CHARS + mark) return false;
    for (size_t i = 0; i < MD5_TEXT_CHARS; ++i) {
        char c = name[i];
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    }
    if (name.compare(MD5_TEXT_CHARS, mark, TEMPORARY_MARK) != 0) return false;
    size_t numbers = MD5_TEXT_CHARS + mark;
    size_t dot = name.find('.', numbers);
    if (dot == std::string::npos) return IsDigits(name, numbers, name.size());
    return IsDigits(name, numbers, dot) && IsDigits(name, dot + 1, name.size());
}

// The registration of one fetch in progress. Whatever ends the leader, a
// return or an exception, its destructor marks the fetch done, wakes the
// waiters and takes the path off the list, so that the next miss of the
// path fetches again.
class CResourceCache::CRegistration {
public:
    CRegistration(CResourceCache& cache, const std::string& path, std::shared_ptr<Fetch> fetch)
        : m_cache(cache), m_path(path), m_pFetch(std::move(fetch))
    {
    }
    ~CRegistration()
    {
        std::lock_guard<std::mutex> lock(m_cache.m_lock);
        m_pFetch->bDone = true;
        m_cache.m_fetches.erase(m_path);
        m_cache.m_fetchDone.notify_all();
    }
    CRegistration(const CRegistration&) = delete;
    CRegistration& operator=(const CRegistration&) = delete;

    // Hands the fetched body to the waiters, and to every miss of the path
    // from now on until the registration ends.
    void Publish(SharedOutBuf body)
    {
        std::lock_guard<std::mutex> lock(m_cache.m_lock);
        m_pFetch->body = std::move(body);
        m_cache.m_fetchDone.notify_all();
    }

private:
    CResourceCache& m_cache;
    std::string m_path;
    std::shared_ptr<Fetch> m_pFetch;
};

CResourceCache::CPendingStore::CPendingStore(CResourceCache& cache, std::unique_ptr<CRegistration> registration,
                                             std::string name, SharedOutBuf body)
    : m_cache(cache), m_pRegistration(std::move(registration)), m_name(std::move(name)), m_pBody(std::move(body))
{
}

CResourceCache::CPendingStore::~CPendingStore()
{
    // The registration ends after the store: until the file has its name,
    // a miss of the path shares the body instead of fetching it again.
    m_cache.Store(m_name, *m_pBody);
}

void CResourceCache::Configure(const std::string& root, const std::string& upstreamBase, IHttpTransport& transport)
{
    m_root = root;
    m_upstreamBase = upstreamBase;
    m_pTransport = &transport;
    m_temporaryMark = TEMPORARY_MARK + std::to_string(CurrentProcessId()) + ".";
}

std::string CacheFileName(const std::string& path)
{
    return Md5Hex(path.data(), static_cast<uint32_t>(path.size()));
}

std::string CResourceCache::FilePath(const std::string& path) const
{
    return m_root + CacheFileName(path);
}

bool CResourceCache::OpenCached(const std::string& path, CInputFile* pFile)
{
    std::string name = CacheFileName(path);
    if (!pFile->Open(m_root + name)) return false;
    m_account.RecordUse(name, pFile->Size());
    return true;
}

void CResourceCache::StartAccount(uint64_t nLimit)
{
    m_account.Start(m_root, nLimit, m_temporaryMark);
}

SharedOutBuf CResourceCache::Obtain(const std::string& path, std::unique_ptr<CPendingStore>* pStore)
{
    if (!IsFetchablePath(path)) return std::make_shared<COutBuf>();
    std::string name = CacheFileName(path);

    std::shared_ptr<Fetch> fetch;
    {
        std::unique_lock<std::mutex> lock(m_lock);
        auto found = m_fetches.find(path);
        if (found != m_fetches.end()) {
            fetch = found->second;
            ++fetch->nWaiting;
            m_fetchDone.wait(lock, [&] { return fetch->bDone || fetch->body; });
            --fetch->nWaiting;
            // A leader that ended without a body is answered like a failed fetch.
            return fetch->body ? fetch->body : std::make_shared<COutBuf>();
        }
        fetch = std::make_shared<Fetch>();
        m_fetches.emplace(path, fetch);
    }
    auto registration = std::make_unique<CRegistration>(*this, path, fetch);

    auto body = std::make_shared<COutBuf>();
    // The file may have been stored since the first look, by a fetch that
    // ended before this one was registered.
    if (body->LoadFromFile((m_root + name).c_str())) {
        m_account.RecordUse(name, body->GetLength());
        registration->Publish(body);
        return body;
    }
    bool keep = FetchBody(path, body.get());
    // Whatever the store does later, the body fetched is everybody's now.
    registration->Publish(body);
    if (keep) {
        // Runs when the caller lets go of it; without a caller to hold it, now.
        auto store = std::make_unique<CPendingStore>(*this, std::move(registration), name, body);
        if (pStore) *pStore = std::move(store);
    }
    return body;
}

bool CResourceCache::FetchBody(const std::string& path, COutBuf* body)
{
    std::string url = m_upstreamBase + path;
    int status = 0;
    int code = FetchToBuffer(url.c_str(), nullptr, body, &status, *m_pTransport);
    if (code != FETCH_OK || status != 200) LogFetchFailure(path, code, status);
    // Only a whole 200 answer is kept, and only one the bounded cache can hold.
    return code == FETCH_OK && status == 200 && m_account.Fits(body->GetLength());
}

void CResourceCache::LogFetchFailure(const std::string& path, int nCode, int nStatus)
{
    uint32_t skipped = 0;
    if (!m_fetchFailures.Admit(&skipped)) return;
    // The query is left out: it may carry what belongs to the player alone.
    std::string shown = path.substr(0, path.find('?'));
    const char* what = nCode == FETCH_OPEN_FAILED ? "no answer or no length"
                       : nCode == FETCH_READ_FAILED ? "the body was cut or stalled"
                       : nCode == FETCH_OFFLINE ? "the system is offline"
                       : "answered";
    if (skipped > 0) {
        LogEvent("fetch failed: %s: %s, status %d (%u similar lines left out)", shown.c_str(), what, nStatus,
                 skipped);
    } else {
        LogEvent("fetch failed: %s: %s, status %d", shown.c_str(), what, nStatus);
    }
}

void CResourceCache::Store(const std::string& name, const COutBuf& body) noexcept
{
    try {
        unsigned long counter;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            counter = ++m_nTempCounter;
        }
        // The process id keeps two processes of one folder from ever writing
        // the same temporary file. The file takes its name only once its
        // bytes are on the disk: after a power cut a name never stands for
        // zeros or for nothing.
        std::string file = m_root + name;
        std::string temporary = file + m_temporaryMark + std::to_string(counter);
        if (body.SaveToFile(temporary.c_str()) && RenameReplacing(temporary, file)) {
            m_account.RecordStore(name, body.GetLength());
            return;
        }
        RemoveFile(temporary);
    } catch (const std::bad_alloc&) {
        // Not kept: the next miss fetches it again.
    }
}

void CResourceCache::ForgetFile(const std::string& filePath)
{
    if (filePath.size() < MD5_TEXT_CHARS) return;
    m_account.RecordRemoval(filePath.substr(filePath.size() - MD5_TEXT_CHARS));
}

int CResourceCache::WaitersOf(const std::string& path)
{
    std::lock_guard<std::mutex> lock(m_lock);
    auto found = m_fetches.find(path);
    return found == m_fetches.end() ? 0 : found->second->nWaiting;
}

bool CResourceCache::WaitUntilSettled(int nTimeoutMs)
{
    // A store records itself in the account before its path leaves the
    // map, so once the map is empty the account knows of every store.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(nTimeoutMs);
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            if (m_fetches.empty()) break;
        }
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return m_account.WaitUntilCounted(static_cast<int>(std::max<int64_t>(left.count(), 0)));
}
