// CHTTPServer: the launcher's local web server on 127.0.0.1:12315. Every
// request gets one HTTP/1.0 response whose body comes from the resource
// cache and whose content type comes from the path's extension.
#pragma once

#include <string>

#include "server/generic_server.h"
#include "server/mime_table.h"
#include "server/resource_cache.h"

const uint16_t LOCAL_SERVER_PORT = 12315;

class CHTTPServer : public CGenericServer {
public:
    CHTTPServer();
    ~CHTTPServer() override;

    // Cache under the current directory's "wz_cdn/cdn", upstream from the
    // build configuration, port 12315. Returns Start's result.
    bool StartServer();
    // The same with every part given, for tests and tools; nCacheLimit 0
    // takes the bound of the build configuration (CacheLimitFor).
    bool StartServerAt(uint16_t port, const std::string& baseDirectory, const std::string& upstreamBase,
                       uint64_t nCacheLimit = 0);

    const std::string& CacheRoot() const { return m_cache.Root(); }
    // The bound the cache is kept within, once started.
    uint64_t CacheLimit() const { return m_nCacheLimit; }
    // For tests and tools: see CResourceCache::WaitUntilSettled.
    bool WaitUntilCacheSettled(int nTimeoutMs) { return m_cache.WaitUntilSettled(nTimeoutMs); }

protected:
    int OnAccept(const char* ip, uint16_t port) override;
    int OnSent(uint32_t nBytes) override;
    // A cache file found cut short is removed, so that the next request of
    // its path fetches it anew instead of failing in the same place again,
    // and leaves the account.
    void OnFileUnreadable(CInputFile& file) override;
    bool IsRequestComplete(const std::string& request) override;
    bool HandleRequest(const std::string& request, CServerResponse* pResponse, int* pnKeepAlive) override;

private:
    // The Date header's text for the current second.
    static const std::string& CurrentHttpDate();

    MimeMap m_mimeMap;
    CResourceCache m_cache;
    uint64_t m_nCacheLimit = 0;
};

// The upstream resource CDN's base: "http://" + the configured host.
std::string UpstreamBase();
// The bound of a cache folder: QUILLET_CACHE_LIMIT of the build
// configuration when it is set, else DefaultCacheLimit of the free space of
// the folder's drive as it is now.
uint64_t CacheLimitFor(const std::string& root);
