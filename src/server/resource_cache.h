// The resource cache: one file per request path, named by the MD5 text of
// the path, under the cache root; a miss is fetched from the upstream
// resource CDN with the same path and stored when it arrived whole.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "base/out_buf.h"
#include "platform/http_transport.h"
#include "platform/event_log.h"
#include "server/cache_account.h"

class CInputFile;

// Creates every missing folder along path ("\" or "/" separated). Returns
// the result of the last creation, -1 when it failed (as it does for a path
// ending in a separator, whose last folder then exists already); 0 for an
// empty path.
int MakeDirs(const std::string& path);

// The cache root under a folder: folder + separator + "wz_cdn" + separator +
// "cdn" + separator. The server and cache clearing both compute it so.
std::string CacheRootUnder(const std::string& baseDirectory);

// True for the name of a temporary file that a store writes before renaming
// it to its cache file's name: 32 lowercase hex digits, ".part" and a
// number, optionally followed by "." and a second number.
bool IsTemporaryCacheName(const std::string& name);

// The name of a request path's cache file: Md5Hex of the path.
std::string CacheFileName(const std::string& path);

class CResourceCache {
public:
    // root ends with the system's separator; upstreamBase is "http://host"
    // without a trailing slash. Fetches go through transport, which must
    // outlive the cache.
    void Configure(const std::string& root, const std::string& upstreamBase,
                   IHttpTransport& transport = SystemHttpTransport());
    const std::string& Root() const { return m_root; }

    // The cache file of a request path: root + Md5Hex(path).
    std::string FilePath(const std::string& path) const;

    // Opens the cache file of a request path, and counts it as used; false
    // on a miss.
    bool OpenCached(const std::string& path, CInputFile* pFile);

    class CPendingStore;

    // For a path whose cache file OpenCached did not find: the resource's
    // bytes, from the cache file if another connection has stored it since,
    // else whatever the upstream delivered (empty when nothing came). Never
    // null. Stores a fetched body only when the upstream answered 200 with
    // the whole announced length, writing it under a temporary name first,
    // on the disk, so that no reader ever sees a partial file and no name
    // outlives a power cut without its bytes. With pStore the store is
    // handed to the caller, to run when it lets go of it (after answering
    // from memory); without, it runs before Obtain returns.
    // Simultaneous misses for one path cause one upstream request: while one
    // thread fetches a path, every other thread that obtains it blocks until
    // that fetch has ended, however it ended, and then shares its body; until
    // the body is stored, later misses share it too. A path that does not
    // start with "/" or holds a control byte, a blank or DEL is never fetched
    // (empty body). May throw std::bad_alloc.
    SharedOutBuf Obtain(const std::string& path, std::unique_ptr<CPendingStore>* pStore = nullptr);

    // Keeps the cache within nLimit bytes from now on (see CCacheAccount):
    // counts the folder on a thread of its own, removing the temporary
    // files that earlier processes left (a process ended in the middle of a
    // store); those of this process and every other file stay. Call once,
    // when the server holds its port, so that no other process serves this
    // folder.
    void StartAccount(uint64_t nLimit);

    // A cache file (a path under the root) is gone: the account forgets it.
    void ForgetFile(const std::string& filePath);

    // How many threads wait for the fetch of path now, for tests.
    int WaitersOf(const std::string& path);
    // For tests and tools: waits up to nTimeoutMs until no fetch or store
    // is in progress and the account neither counts nor evicts, so that the
    // folder is at rest; false when it is still busy by then.
    bool WaitUntilSettled(int nTimeoutMs);

private:
    // A fetch in progress; other connections missing the same path wait for
    // it. body stays null when the fetch ended without one.
    struct Fetch {
        bool bDone = false;
        int nWaiting = 0;
        SharedOutBuf body;
    };
    class CRegistration;

    // Fetches path into body; true when the body is to be kept.
    bool FetchBody(const std::string& path, COutBuf* body);
    // One line in the event log for a fetch that brought no whole 200
    // answer, at most one a second with the count of those left out.
    void LogFetchFailure(const std::string& path, int nCode, int nStatus);
    // Writes a body to its cache file and records it; nothing when it cannot.
    void Store(const std::string& name, const COutBuf& body) noexcept;

    std::string m_root;
    std::string m_upstreamBase;
    IHttpTransport* m_pTransport = nullptr;
    std::string m_temporaryMark;   // ".part<process id>."
    std::mutex m_lock;
    std::condition_variable m_fetchDone;
    std::map<std::string, std::shared_ptr<Fetch>> m_fetches;
    unsigned long m_nTempCounter = 0;
    CCacheAccount m_account;
    CLogRateLimit m_fetchFailures;
};

// A fetched body's store, run when this goes: the path stays registered
// until then, so that misses of it share the body instead of fetching again.
class CResourceCache::CPendingStore {
public:
    CPendingStore(CResourceCache& cache, std::unique_ptr<CRegistration> registration, std::string name,
                  SharedOutBuf body);
    ~CPendingStore();
    CPendingStore(const CPendingStore&) = delete;
    CPendingStore& operator=(const CPendingStore&) = delete;

private:
    CResourceCache& m_cache;
    std::unique_ptr<CRegistration> m_pRegistration;
    std::string m_name;
    SharedOutBuf m_pBody;
};
