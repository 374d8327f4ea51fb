// The HTTP primitive over WinInet.
#include "platform/http_transport.h"

#include <windows.h>
#include <wininet.h>

#include <mutex>
#include <new>

#include "platform/wide_text_win32.h"

namespace {

const char ACCEPT_HEADER_A[] = "Accept: */*\r\n\r\n";
const wchar_t ACCEPT_HEADER_W[] = L"Accept: */*\r\n\r\n";
const DWORD ACCEPT_HEADER_LENGTH = 15;
const DWORD REQUEST_FLAGS = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE;

// The time-outs Windows documents as WinInet's defaults, set on every
// session explicitly: Wine's WinInet applies none, so that a peer that
// accepts and never answers would hold a request for ever there.
const DWORD CONNECT_TIMEOUT_MS = 60000;
const DWORD SEND_TIMEOUT_MS = 30000;
const DWORD RECEIVE_TIMEOUT_MS = 30000;

// Sets the time-outs above on an Internet handle; its requests inherit them.
void SetTimeouts(HINTERNET internet)
{
    const struct {
        DWORD option;
        DWORD milliseconds;
    } timeouts[] = {{INTERNET_OPTION_CONNECT_TIMEOUT, CONNECT_TIMEOUT_MS},
                    {INTERNET_OPTION_SEND_TIMEOUT, SEND_TIMEOUT_MS},
                    {INTERNET_OPTION_RECEIVE_TIMEOUT, RECEIVE_TIMEOUT_MS}};
    for (const auto& timeout : timeouts) {
        DWORD value = timeout.milliseconds;
        InternetSetOptionW(internet, timeout.option, &value, sizeof(value));
    }
}

// An Internet handle closed on destruction.
class InternetHandle {
public:
    explicit InternetHandle(HINTERNET handle) : m_handle(handle) {}
    ~InternetHandle() { if (m_handle) InternetCloseHandle(m_handle); }
    InternetHandle(const InternetHandle&) = delete;
    InternetHandle& operator=(const InternetHandle&) = delete;
    HINTERNET get() const { return m_handle; }

private:
    HINTERNET m_handle;
};

// The owner of a raw handle, made without throwing: when there is no
// memory for it, the handle is closed and the result is null, as for a
// handle that could not be opened.
template <typename T, typename... Args>
std::unique_ptr<T> Own(HINTERNET handle, Args... args)
{
    if (!handle) return nullptr;
    std::unique_ptr<T> owner(new (std::nothrow) T(handle, args...));
    if (!owner) InternetCloseHandle(handle);
    return owner;
}

class WinInetRequest : public IHttpRequest {
public:
    explicit WinInetRequest(HINTERNET handle) : m_request(handle) {}

    bool QueryContentLength(uint32_t* pnLength) override
    {
        DWORD length = 0;
        DWORD size = sizeof(length);
        if (!HttpQueryInfoW(m_request.get(), HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &length,
                            &size, nullptr)) {
            return false;
        }
        *pnLength = length;
        return true;
    }

    int QueryStatusCode() override
    {
        DWORD status = 0;
        DWORD size = sizeof(status);
        if (!HttpQueryInfoW(m_request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                            nullptr)) {
            return 0;
        }
        return static_cast<int>(status);
    }

    bool Read(void* pBuffer, uint32_t nSize, uint32_t* pnRead) override
    {
        *pnRead = 0;
        // InternetReadFile waits until the whole size has arrived: asking
        // first what has arrived returns as soon as anything has, so that
        // the low-speed bound is looked at while an upstream trickles.
        DWORD available = 0;
        if (!InternetQueryDataAvailable(m_request.get(), &available, 0, 0)) return false;
        if (available == 0) return true;   // the end of the body
        DWORD read = 0;
        if (!InternetReadFile(m_request.get(), pBuffer, available < nSize ? available : nSize, &read)) return false;
        *pnRead = read;
        // The low-speed bound, window by window.
        m_nWindowBytes += read;
        DWORD now = ::GetTickCount();
        if (now - m_nWindowStart >= LOW_SPEED_SECONDS * 1000) {
            if (m_nWindowBytes < static_cast<uint64_t>(LOW_SPEED_BYTES_PER_SECOND) * LOW_SPEED_SECONDS) {
                *pnRead = 0;
                return false;
            }
            m_nWindowStart = now;
            m_nWindowBytes = 0;
        }
        return true;
    }

private:
    InternetHandle m_request;
    DWORD m_nWindowStart = ::GetTickCount();
    uint64_t m_nWindowBytes = 0;
};

class WinInetSession : public IHttpSession {
public:
    WinInetSession(HINTERNET handle, HttpText text) : m_internet(handle), m_text(text) {}

    std::unique_ptr<IHttpRequest> OpenUrl(const std::string& url, bool* pbFileNotFound) override
    {
        SetLastError(0);
        HINTERNET request;
        if (m_text == HttpText::WIDE) {
            request = InternetOpenUrlW(m_internet.get(), ToWide(url, CP_UTF8).c_str(), ACCEPT_HEADER_W,
                                       ACCEPT_HEADER_LENGTH, REQUEST_FLAGS, 0);
        } else {
            request = InternetOpenUrlA(m_internet.get(), url.c_str(), ACCEPT_HEADER_A, ACCEPT_HEADER_LENGTH,
                                       REQUEST_FLAGS, 0);
        }
        if (pbFileNotFound) *pbFileNotFound = GetLastError() == ERROR_FILE_NOT_FOUND;
        return Own<WinInetRequest>(request);
    }

private:
    InternetHandle m_internet;
    HttpText m_text;
};

class WinInetTransport : public IHttpTransport {
public:
    // The system is asked at most once in STATE_LIFETIME_MS: Wine takes
    // about 14 ms to answer (it looks at the whole network set-up each
    // time), most of a fetch's cost there, and a state a second old is one
    // that no fetch could tell apart from a fresh one.
    ConnectionState GetConnectedState() override
    {
        const DWORD now = ::GetTickCount();
        {
            std::lock_guard<std::mutex> lock(m_lock);
            if (m_bKnown && now - m_nTakenAt < STATE_LIFETIME_MS) return m_state;
        }
        DWORD flags = 0;
        ConnectionState state;
        state.bConnected = InternetGetConnectedState(&flags, 0) != FALSE;
        state.bProxy = (flags & INTERNET_CONNECTION_PROXY) != 0;
        state.bOffline = (flags & INTERNET_CONNECTION_OFFLINE) != 0;
        std::lock_guard<std::mutex> lock(m_lock);
        m_state = state;
        m_nTakenAt = now;
        m_bKnown = true;
        return state;
    }

    uint32_t GetTickCount() override { return ::GetTickCount(); }

    std::unique_ptr<IHttpSession> Open(const std::string& agent, bool bProxy, HttpText text) override
    {
        DWORD access = bProxy ? INTERNET_OPEN_TYPE_PRECONFIG : INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY;
        HINTERNET internet = text == HttpText::WIDE
                                 ? InternetOpenW(ToWide(agent, CP_UTF8).c_str(), access, nullptr, nullptr, 0)
                                 : InternetOpenA(agent.c_str(), access, nullptr, nullptr, 0);
        if (internet) SetTimeouts(internet);
        return Own<WinInetSession>(internet, text);
    }

private:
    static constexpr DWORD STATE_LIFETIME_MS = 1000;

    std::mutex m_lock;
    ConnectionState m_state;
    DWORD m_nTakenAt = 0;
    bool m_bKnown = false;
};

}  // namespace

IHttpTransport& SystemHttpTransport()
{
    // Never destroyed: the server's threads may still fetch while the
    // process ends, and end with it.
    static WinInetTransport* transport = new WinInetTransport;
    return *transport;
}
