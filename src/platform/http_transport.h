// The HTTP download primitive under the download client: connectivity state,
// an Internet handle, a GET request with the fixed header and no caching, the
// Content-Length as a number, the status code and reads of the body.
// WinInet implements it on Windows, libcurl on Linux; the algorithms above it
// are written once.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

// The bound of every fetch: a body that arrives at less than this many bytes
// a second on average, over a window of LOW_SPEED_SECONDS, fails its read.
// An upstream that trickles a byte now and then never trips a receive
// time-out, and would otherwise hold the fetch, and every connection that
// waits for its path, for as long as it trickles. Both transports keep it.
const uint32_t LOW_SPEED_BYTES_PER_SECOND = 1;
const uint32_t LOW_SPEED_SECONDS = 30;

// What the system says of its connection to the Internet.
struct ConnectionState {
    bool bConnected = false;   // it reports a connection
    bool bProxy = false;       // through a proxy
    bool bOffline = false;     // it is set to work offline
};

// One request whose response head has arrived. Used by one thread.
class IHttpRequest {
public:
    virtual ~IHttpRequest() = default;
    // The Content-Length header as a number; false when it is missing.
    virtual bool QueryContentLength(uint32_t* pnLength) = 0;
    // The response's HTTP status code; 0 when it cannot be read.
    virtual int QueryStatusCode() = 0;
    // Reads at most nSize bytes of the body into pBuffer. False when the read
    // failed; true with *pnRead 0 at the end of the body.
    virtual bool Read(void* pBuffer, uint32_t nSize, uint32_t* pnRead) = 0;
};

// Which kind of text the calls take: the wide calls carry UTF-16 addresses,
// the 8-bit calls carry the address bytes as they are.
enum class HttpText { WIDE, ANSI };

// An open Internet handle. Every request must be destroyed before its session.
class IHttpSession {
public:
    virtual ~IHttpSession() = default;
    // Sends GET url with "Accept: */*", a no-cache pragma and a forced reload,
    // writing nothing to a cache. Null when the request cannot be opened.
    // pbFileNotFound, when given, tells whether the system's last error after
    // the call was "file not found". A WIDE session takes url as UTF-8.
    virtual std::unique_ptr<IHttpRequest> OpenUrl(const std::string& url, bool* pbFileNotFound) = 0;
};

class IHttpTransport {
public:
    virtual ~IHttpTransport() = default;
    // The system's connection state.
    virtual ConnectionState GetConnectedState() = 0;
    // Milliseconds since the system started, for the agent text.
    virtual uint32_t GetTickCount() = 0;
    // Opens an Internet handle with this agent text; bProxy chooses the
    // preconfigured access with proxy auto-detection, otherwise without it.
    virtual std::unique_ptr<IHttpSession> Open(const std::string& agent, bool bProxy, HttpText text) = 0;
};

// The system's transport; safe to use from any number of threads.
IHttpTransport& SystemHttpTransport();
