// The resource cache: one file per request path, named by the MD5 text of
// the path, under the cache root; a miss is fetched from the upstream
// resource CDN with the same path and stored when it arrived whole.
#pragma once

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class CInputFile;
class COutBuf;

// Creates every missing folder along path ("\" or "/" separated). Returns
// the result of the last creation, -1 when it failed (as it does for a path
// ending in a separator, whose last folder then exists already); 0 for an
// empty path.
int MakeDirs(const std::string& path);

class CResourceCache {
public:
    // root ends with the system's separator; upstreamBase is "http://host"
    // without a trailing slash.
    void Configure(const std::string& root, const std::string& upstreamBase);
    const std::string& Root() const { return m_root; }

    // The cache file of a request path: root + Md5Hex(path).
    std::string FilePath(const std::string& path) const;

    // Opens the cache file of a request path; false on a miss.
    bool OpenCached(const std::string& path, CInputFile* pFile) const;

    // For a path whose cache file OpenCached did not find: fills body with
    // the resource's bytes, the cache file if another connection has stored
    // it since, else whatever the upstream delivered. Stores a fetched body
    // only when the upstream answered 200 with the whole announced length,
    // writing it under a temporary name first so that no reader ever sees a
    // partial file.
    // Simultaneous misses for one path cause one upstream request. A path
    // that does not start with "/" or holds a control byte, a blank or DEL is
    // never fetched (empty body).
    void Obtain(const std::string& path, COutBuf* body);

private:
    // A fetch in progress; other connections missing the same path wait for it.
    struct Fetch {
        bool bDone = false;
        int nWaiting = 0;   // the body is kept for them only
        std::vector<uint8_t> body;
    };

    void FetchAndStore(const std::string& path, const std::string& file, COutBuf* body);

    std::string m_root;
    std::string m_upstreamBase;
    std::mutex m_lock;
    std::condition_variable m_fetchDone;
    std::map<std::string, std::shared_ptr<Fetch>> m_fetches;
    unsigned long m_nTempCounter = 0;
};
