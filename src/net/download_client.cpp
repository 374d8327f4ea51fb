#include "net/download_client.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "base/out_buf.h"
#include "net/md5.h"
#include "platform/file_system.h"

namespace {

const uint32_t MEMORY_PIECE = 4096;
const uint32_t FETCH_PIECE = 16384;
// An announced length is reserved up front only up to this size: a 32-bit
// process holds a thousand connections, and a dozen large or lying
// announcements must not take its address space before a byte has arrived.
// Longer bodies still arrive, the buffer growing as their bytes come.
const uint32_t MAX_RESERVE = 8u << 20;

std::string TickAgent(IHttpTransport& transport)
{
    char agent[32];
    std::snprintf(agent, sizeof(agent), "Agent%ld", static_cast<long>(transport.GetTickCount()));
    return agent;
}

// Steps shared by the two wide operations: connectivity, the Internet handle
// (agent "win" behind a proxy) and the request. The session is returned too,
// since it must outlive the request.
struct WideRequest {
    std::unique_ptr<IHttpSession> session;
    std::unique_ptr<IHttpRequest> request;
};

WideRequest OpenWide(IHttpTransport& transport, const std::string& url)
{
    WideRequest opened;
    ConnectionState state = transport.GetConnectedState();
    if (!state.bConnected) return opened;
    bool proxy = state.bProxy;
    opened.session = transport.Open(proxy ? "win" : TickAgent(transport), proxy, HttpText::WIDE);
    if (!opened.session) return opened;
    bool fileNotFound = false;
    opened.request = opened.session->OpenUrl(url, &fileNotFound);
    if (fileNotFound) opened.request.reset();
    return opened;
}

// Appends a piece of a body of announced length to sink. Past the
// reservation the storage at least doubles each time it grows, up to the
// announced length, so a long body is not copied once per piece. False when
// the body cannot be held: the sink keeps the bytes before the piece.
bool Append(COutBuf* sink, const uint8_t* piece, uint32_t nRead, uint32_t nAnnounced)
{
    int64_t needed = static_cast<int64_t>(sink->GetLength()) + nRead;
    if (needed > sink->GetCapacity()) {
        int64_t grown = 2 * static_cast<int64_t>(sink->GetCapacity());
        if (grown > nAnnounced) grown = nAnnounced;
        if (grown > INT32_MAX) grown = INT32_MAX;
        if (grown > needed) sink->Reserve(static_cast<int32_t>(grown));
    }
    return sink->Write(piece, static_cast<int32_t>(nRead));
}

}  // namespace

uint32_t DownloadToMemory(const std::string& url, uint8_t* dest, uint32_t nCapacity, IHttpTransport& transport)
{
    WideRequest opened = OpenWide(transport, url);
    if (!opened.request) return 0;
    uint32_t length = 0;
    if (!opened.request->QueryContentLength(&length)) return 0;

    uint8_t piece[MEMORY_PIECE];
    uint32_t total = 0;
    for (;;) {
        uint32_t read = 0;
        if (!opened.request->Read(piece, sizeof(piece), &read) || read == 0) break;
        if (nCapacity == 0 || read > nCapacity - 1 - total) return 0;
        std::memcpy(dest + total, piece, read);
        total += read;
    }
    return total;
}

uint32_t DownloadToMemoryWithin(const std::string& url, uint8_t* dest, uint32_t nCapacity, uint32_t nDeadlineMs,
                                IHttpTransport& transport)
{
    // Shared with the download's thread, which may outlive this call.
    struct Download {
        std::mutex lock;
        std::condition_variable finished;
        bool bDone = false;
        uint32_t nLength = 0;
        std::vector<uint8_t> body;
    };
    try {
        auto download = std::make_shared<Download>();
        download->body.resize(nCapacity);
        std::thread([download, url, &transport] {
            uint32_t length = DownloadToMemory(url, download->body.data(),
                                               static_cast<uint32_t>(download->body.size()), transport);
            std::lock_guard<std::mutex> hold(download->lock);
            download->nLength = length;
            download->bDone = true;
            download->finished.notify_all();
        }).detach();
        std::unique_lock<std::mutex> hold(download->lock);
        if (!download->finished.wait_for(hold, std::chrono::milliseconds(nDeadlineMs),
                                         [&] { return download->bDone; })) {
            return 0;
        }
        if (download->nLength > 0) std::memcpy(dest, download->body.data(), download->nLength);
        return download->nLength;
    } catch (const std::bad_alloc&) {
        return 0;
    } catch (const std::system_error&) {
        return 0;   // no thread could be started
    }
}

bool DownloadVerifiedFile(const std::string& url, const std::string& path, const char* expectedMd5,
                          IHttpTransport& transport)
{
    std::unique_ptr<uint8_t[]> block;
    uint32_t length = 0;
    {
        WideRequest opened = OpenWide(transport, url);
        if (!opened.request) return false;
        if (!opened.request->QueryContentLength(&length) || length == 0) return false;
        if (length > MAX_PROGRAM_DOWNLOAD_BYTES) return false;
        block.reset(new (std::nothrow) uint8_t[length]);
        if (!block) return false;
        uint32_t offset = 0;
        while (offset < length) {
            uint32_t read = 0;
            if (!opened.request->Read(block.get() + offset, length - offset, &read) || read == 0) return false;
            offset += read;
        }
    }
    if (!Md5Matches(expectedMd5, block.get(), length)) return false;
    return WriteWholeFile(path, block.get(), length);
}

int FetchToBuffer(const char* url, const char* filePath, COutBuf* sink, int* pnStatus, IHttpTransport& transport)
{
    if (pnStatus) *pnStatus = 0;
    ConnectionState state = transport.GetConnectedState();
    if (state.bOffline) return FETCH_OFFLINE;
    std::unique_ptr<IHttpSession> session = transport.Open(TickAgent(transport), state.bProxy, HttpText::ANSI);
    if (!session) return FETCH_OFFLINE;
    return FetchWithHandle(*session, url, filePath, sink, pnStatus);
}

int FetchWithHandle(IHttpSession& session, const char* url, const char*, COutBuf* sink, int* pnStatus)
{
    std::unique_ptr<IHttpRequest> request = session.OpenUrl(url, nullptr);
    if (!request) return FETCH_OPEN_FAILED;
    if (pnStatus) *pnStatus = request->QueryStatusCode();
    uint32_t length = 0;
    if (!request->QueryContentLength(&length)) return FETCH_OPEN_FAILED;
    // One allocation for the whole body instead of one per piece.
    if (sink) sink->Reserve(static_cast<int32_t>(length < MAX_RESERVE ? length : MAX_RESERVE));

    std::unique_ptr<uint8_t[]> piece(new (std::nothrow) uint8_t[FETCH_PIECE]);
    if (!piece) return FETCH_READ_FAILED;
    for (;;) {
        uint32_t read = 0;
        if (!request->Read(piece.get(), FETCH_PIECE, &read)) return FETCH_READ_FAILED;
        if (read == 0) {
            bool whole = !sink || static_cast<uint32_t>(sink->GetLength()) == length;
            return whole ? FETCH_OK : FETCH_READ_FAILED;
        }
        if (sink && !Append(sink, piece.get(), read, length)) return FETCH_READ_FAILED;
    }
}
