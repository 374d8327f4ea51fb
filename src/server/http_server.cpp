#include "server/http_server.h"

#include <climits>
#include <ctime>
#include <memory>

#include "base/out_buf.h"
#include "build_config.h"
#include "platform/file_system.h"
#include "server/http_protocol.h"

std::string UpstreamBase()
{
    return std::string("http://") + kUpstreamHost;
}

CHTTPServer::CHTTPServer() : m_mimeMap(BuildMimeMap())
{
}

CHTTPServer::~CHTTPServer()
{
    // The connection threads call into this object: end them before any of
    // it goes.
    Stop();
}

bool CHTTPServer::StartServer()
{
    return StartServerAt(LOCAL_SERVER_PORT, GetCurrentDirectoryUtf8(), UpstreamBase());
}

uint64_t CacheLimitFor(const std::string& root)
{
    if (QUILLET_CACHE_LIMIT_BYTES != 0) return QUILLET_CACHE_LIMIT_BYTES;
    uint64_t free = 0;
    FreeDiskBytes(root, &free);
    return DefaultCacheLimit(free);
}

bool CHTTPServer::StartServerAt(uint16_t port, const std::string& baseDirectory, const std::string& upstreamBase,
                                uint64_t nCacheLimit)
{
    std::string root = CacheRootUnder(baseDirectory);
    MakeDirs(root);
    m_cache.Configure(root, upstreamBase);
    if (!Start(port)) return false;
    // The port is this process's now: no other server writes to the folder.
    m_nCacheLimit = nCacheLimit ? nCacheLimit : CacheLimitFor(root);
    m_cache.StartAccount(m_nCacheLimit);
    return true;
}

int CHTTPServer::OnAccept(const char*, uint16_t)
{
    return 0;
}

int CHTTPServer::OnSent(uint32_t)
{
    return 0;
}

void CHTTPServer::OnFileUnreadable(CInputFile& file)
{
    if (file.RemoveIfCut()) m_cache.ForgetFile(file.Path());
}

bool CHTTPServer::IsRequestComplete(const std::string& request)
{
    return IsHttpRequestComplete(request);
}

bool CHTTPServer::HandleRequest(const std::string& request, CServerResponse* pResponse, int* pnKeepAlive)
{
    RequestLine line = ParseRequestLine(request);
    if (!line.bValid) return false;
    if (AsksForKeepAlive(request)) *pnKeepAlive = 1;
    const char* status = line.bGet ? STATUS_OK : STATUS_NOT_IMPLEMENTED;
    const std::string& contentType = ContentTypeForPath(m_mimeMap, line.path);
    const std::string& date = CurrentHttpDate();

    // A hit: the header, then the cache file itself, sent from the file.
    auto cached = std::make_unique<CInputFile>();
    if (m_cache.OpenCached(line.path, cached.get()) && cached->Size() <= INT32_MAX) {
        int32_t size = static_cast<int32_t>(cached->Size());
        ResponseHeader header = FormatResponseHeader(status, date, size, *pnKeepAlive != 0, contentType);
        if (pResponse->Write(header.text, header.length)) {
            if (size > 0) pResponse->AttachFile(std::move(cached));
            return true;
        }
        pResponse->Free();
    }

    // Otherwise the body is obtained, once for every connection that asks
    // for the path at the same time, and sent after the header; a body to
    // keep is stored once the response is done with. A header that cannot
    // be written closes the connection with nothing sent.
    std::unique_ptr<CResourceCache::CPendingStore> store;
    SharedOutBuf body = m_cache.Obtain(line.path, &store);
    pResponse->AttachPendingStore(std::move(store));
    ResponseHeader header = FormatResponseHeader(status, date, body->GetLength(), *pnKeepAlive != 0, contentType);
    if (!pResponse->Write(header.text, header.length)) return false;
    pResponse->AttachBody(std::move(body));
    return true;
}

const std::string& CHTTPServer::CurrentHttpDate()
{
    // Formatted once a second per connection thread, not once a request.
    thread_local int64_t formattedSecond = -1;
    thread_local std::string text;
    int64_t now = static_cast<int64_t>(std::time(nullptr));
    if (now != formattedSecond) {
        text = FormatHttpDate(now);
        formattedSecond = now;
    }
    return text;
}
