#include "server/http_server.h"

#include <ctime>

#include "base/out_buf.h"
#include "build_config.h"
#include "platform/file_system.h"
#include "server/http_protocol.h"

std::string UpstreamBase()
{
    return std::string("http://") + QUILLET_UPSTREAM_HOST;
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
    return StartServerAt(LOCAL_SERVER_PORT, GetCurrentDirectoryBytes(), UpstreamBase());
}

bool CHTTPServer::StartServerAt(uint16_t port, const std::string& baseDirectory, const std::string& upstreamBase)
{
    std::string root = CacheRootUnder(baseDirectory);
    MakeDirs(root);
    m_cache.Configure(root, upstreamBase);
    return Start(port);
}

int CHTTPServer::OnAccept(const char*, uint16_t)
{
    return 0;
}

int CHTTPServer::OnSent(uint32_t)
{
    return 0;
}

bool CHTTPServer::IsRequestComplete(const std::string& request)
{
    return IsHttpRequestComplete(request);
}

bool CHTTPServer::HandleRequest(const std::string& request, COutBuf* pResponse, int* pnKeepAlive)
{
    RequestLine line = ParseRequestLine(request);
    if (!line.bValid) return false;
    if (AsksForKeepAlive(request)) *pnKeepAlive = 1;
    std::string contentType = ContentTypeForPath(m_mimeMap, line.path);
    std::string date = FormatHttpDate(static_cast<int64_t>(std::time(nullptr)));

    COutBuf body;
    m_cache.Obtain(line.path, &body);
    std::string header = FormatResponseHeader(line.bGet ? STATUS_OK : STATUS_NOT_IMPLEMENTED, date,
                                              body.GetLength(), *pnKeepAlive != 0, contentType);
    pResponse->Reserve(static_cast<int32_t>(header.size()) + body.GetLength());
    pResponse->Write(header.data(), static_cast<int32_t>(header.size()));
    pResponse->Append(body);
    return true;
}
