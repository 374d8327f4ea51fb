// The HTTP primitive over libcurl, sending what the WinInet build sends: an
// HTTP/1.1 GET with Host, User-Agent, "Accept: */*" and "Pragma: no-cache",
// following redirects. WinInet's default time-outs apply here too (60 s to
// connect, 30 s without any data), so a stalled origin cannot hold a thread
// for ever.
#include "platform/http_transport.h"

#include <curl/curl.h>
#include <time.h>

#include <cstring>
#include <vector>

namespace {

const long CONNECT_TIMEOUT_SECONDS = 60;
// Larger than libcurl's default of 16 KiB: fewer calls for large bodies.
const long RECEIVE_BUFFER_BYTES = 256 * 1024;

// Each thread keeps one multi handle for all its transfers. Its cache of
// open connections lets a thread that fetches one resource after another
// reuse its upstream connection, as WinInet's connection pool does, and its
// wake-up socket pair is made once instead of once a transfer.
class ThreadMulti {
public:
    ~ThreadMulti()
    {
        if (m_multi) curl_multi_cleanup(m_multi);
    }
    CURLM* Get()
    {
        if (!m_multi) m_multi = curl_multi_init();
        return m_multi;
    }

private:
    CURLM* m_multi = nullptr;
};

CURLM* ThreadMultiHandle()
{
    thread_local ThreadMulti multi;
    return multi.Get();
}

// One transfer driven step by step through a multi handle, so that the body
// is pulled piece by piece like InternetReadFile does.
class CurlRequest : public IHttpRequest {
public:
    ~CurlRequest() override
    {
        if (m_multi && m_easy) curl_multi_remove_handle(m_multi, m_easy);
        if (m_easy) curl_easy_cleanup(m_easy);
        if (m_headers) curl_slist_free_all(m_headers);
    }

    // Starts the transfer and waits until the response head has arrived.
    bool Start(const std::string& url, const std::string& agent)
    {
        m_multi = ThreadMultiHandle();
        m_easy = curl_easy_init();
        if (!m_multi || !m_easy) return false;
        m_headers = curl_slist_append(m_headers, "Accept: */*");
        m_headers = curl_slist_append(m_headers, "Pragma: no-cache");
        curl_easy_setopt(m_easy, CURLOPT_URL, url.c_str());
        curl_easy_setopt(m_easy, CURLOPT_USERAGENT, agent.c_str());
        curl_easy_setopt(m_easy, CURLOPT_HTTPHEADER, m_headers);
        curl_easy_setopt(m_easy, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(m_easy, CURLOPT_MAXREDIRS, 30L);
        curl_easy_setopt(m_easy, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(m_easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(m_easy, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(m_easy, CURLOPT_CONNECTTIMEOUT, CONNECT_TIMEOUT_SECONDS);
        curl_easy_setopt(m_easy, CURLOPT_LOW_SPEED_LIMIT, static_cast<long>(LOW_SPEED_BYTES_PER_SECOND));
        curl_easy_setopt(m_easy, CURLOPT_LOW_SPEED_TIME, static_cast<long>(LOW_SPEED_SECONDS));
        curl_easy_setopt(m_easy, CURLOPT_HEADERFUNCTION, &CurlRequest::OnHeader);
        curl_easy_setopt(m_easy, CURLOPT_HEADERDATA, this);
        curl_easy_setopt(m_easy, CURLOPT_WRITEFUNCTION, &CurlRequest::OnBody);
        curl_easy_setopt(m_easy, CURLOPT_WRITEDATA, this);
        curl_easy_setopt(m_easy, CURLOPT_BUFFERSIZE, RECEIVE_BUFFER_BYTES);
        if (curl_multi_add_handle(m_multi, m_easy) != CURLM_OK) return false;
        while (!m_bHeadDone && !m_bFinished) {
            if (!Step()) return false;
        }
        // A transfer that ended before any response head (refused, reset,
        // unresolvable) cannot be opened.
        return m_bHeadDone;
    }

    bool QueryContentLength(uint32_t* pnLength) override
    {
        curl_off_t length = -1;
        if (curl_easy_getinfo(m_easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) != CURLE_OK || length < 0 ||
            length > 0xFFFFFFFFLL) {
            return false;
        }
        *pnLength = static_cast<uint32_t>(length);
        return true;
    }

    int QueryStatusCode() override { return static_cast<int>(m_nStatus); }

    bool Read(void* pBuffer, uint32_t nSize, uint32_t* pnRead) override
    {
        *pnRead = 0;
        while (m_staged.size() == m_nStagedOffset && !m_bFinished) {
            if (!Step()) return false;
        }
        size_t available = m_staged.size() - m_nStagedOffset;
        if (available == 0) {
            // The body has ended. A peer that closed the connection early
            // ends it like a complete one, as InternetReadFile reports it;
            // the caller compares the length. Other errors fail the read.
            return m_result == CURLE_OK || m_result == CURLE_PARTIAL_FILE;
        }
        size_t n = available < nSize ? available : nSize;
        std::memcpy(pBuffer, m_staged.data() + m_nStagedOffset, n);
        m_nStagedOffset += n;
        if (m_nStagedOffset == m_staged.size()) {
            m_staged.clear();
            m_nStagedOffset = 0;
        }
        *pnRead = static_cast<uint32_t>(n);
        return true;
    }

private:
    // Moves the transfer on by what the socket has to give, waiting for it.
    bool Step()
    {
        int running = 0;
        if (curl_multi_perform(m_multi, &running) != CURLM_OK) return false;
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(m_multi, &queued)) {
            if (message->msg == CURLMSG_DONE && message->easy_handle == m_easy) {
                m_bFinished = true;
                m_result = message->data.result;
            }
        }
        if (running == 0) m_bFinished = true;
        if (!m_bFinished && m_staged.size() == m_nStagedOffset) {
            return curl_multi_poll(m_multi, nullptr, 0, 1000, nullptr) == CURLM_OK;
        }
        return true;
    }

    static size_t OnHeader(char* data, size_t size, size_t count, void* user)
    {
        CurlRequest* self = static_cast<CurlRequest*>(user);
        size_t length = size * count;
        // A blank line ends a head; a redirect's head is followed by another.
        if (length <= 2 && (length == 0 || data[0] == '\r' || data[0] == '\n')) {
            long status = 0;
            curl_easy_getinfo(self->m_easy, CURLINFO_RESPONSE_CODE, &status);
            bool redirect = status >= 300 && status < 400 && status != 304;
            char* location = nullptr;
            curl_easy_getinfo(self->m_easy, CURLINFO_REDIRECT_URL, &location);
            if (!(redirect && location)) {
                self->m_nStatus = status;
                self->m_bHeadDone = true;
            }
        }
        return length;
    }

    static size_t OnBody(char* data, size_t size, size_t count, void* user)
    {
        CurlRequest* self = static_cast<CurlRequest*>(user);
        size_t length = size * count;
        self->m_staged.insert(self->m_staged.end(), data, data + length);
        return length;
    }

    CURLM* m_multi = nullptr;
    CURL* m_easy = nullptr;
    curl_slist* m_headers = nullptr;
    std::vector<char> m_staged;
    size_t m_nStagedOffset = 0;
    bool m_bHeadDone = false;
    bool m_bFinished = false;
    CURLcode m_result = CURLE_OK;
    long m_nStatus = 0;
};

class CurlSession : public IHttpSession {
public:
    explicit CurlSession(std::string agent) : m_agent(std::move(agent)) {}

    std::unique_ptr<IHttpRequest> OpenUrl(const std::string& url, bool* pbFileNotFound) override
    {
        if (pbFileNotFound) *pbFileNotFound = false;
        auto request = std::make_unique<CurlRequest>();
        if (!request->Start(url, m_agent)) return nullptr;
        return request;
    }

private:
    std::string m_agent;
};

class CurlTransport : public IHttpTransport {
public:
    CurlTransport() { curl_global_init(CURL_GLOBAL_DEFAULT); }
    ~CurlTransport() override { curl_global_cleanup(); }

    // Linux has no system-wide offline switch: the machine counts as
    // connected, without a proxy.
    ConnectionState GetConnectedState() override
    {
        ConnectionState state;
        state.bConnected = true;
        return state;
    }

    uint32_t GetTickCount() override
    {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        return static_cast<uint32_t>(static_cast<uint64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000);
    }

    std::unique_ptr<IHttpSession> Open(const std::string& agent, bool, HttpText) override
    {
        return std::make_unique<CurlSession>(agent);
    }
};

}  // namespace

IHttpTransport& SystemHttpTransport()
{
    // Constructed once, before any thread can use it (a function-local static
    // is initialised thread-safely), so curl_global_init runs exactly once.
    // Never destroyed: a fetch left to end on its own thread (a download
    // past its deadline, a server thread) may still run while the process
    // ends.
    static CurlTransport* transport = new CurlTransport;
    return *transport;
}
