// CConnectionSession: one connection's conversation with the server, on the
// connection's own thread. It gathers received bytes until the handler says
// a request is complete, lets the handler write the whole response, sends it
// (resuming where a send would have blocked, keeping bytes that arrive
// meanwhile up to the limit of one request) and waits for the next request
// while the handler asks for keep-alive.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/server_socket.h"
#include "server/server_response.h"

// What a session asks of the server it serves for. The server's one handler
// runs on every connection thread at once: whatever shared state it changes
// needs its own lock.
class IRequestHandler {
public:
    // True when request holds a whole request.
    virtual bool IsRequestComplete(const std::string& request) = 0;
    // Appends the whole response to pResponse, or its head with a file or a
    // body to follow it; may set *pnKeepAlive to 1. False closes the
    // connection with nothing sent.
    virtual bool HandleRequest(const std::string& request, CServerResponse* pResponse, int* pnKeepAlive) = 0;
    // Told after a response went out in full; the result is ignored.
    virtual int OnSent(uint32_t nBytes) = 0;
    // Told when an attached file could not be read whole; the connection
    // closes after it.
    virtual void OnFileUnreadable(CInputFile&) {}

protected:
    ~IRequestHandler() = default;
};

class CConnectionSession {
public:
    // A request text that grows past this without completing closes its
    // connection, so memory per connection stays bounded.
    static constexpr size_t MAX_REQUEST_BYTES = 64 * 1024;
    // The most one send hands to the connection.
    static constexpr int MAX_SEND_BYTES = 2 * 1024 * 1024;

    // pReceiveArea holds nReceiveArea bytes for each receive; the session
    // borrows the connection, the handler and the area for its lifetime.
    CConnectionSession(IServerConnection& connection, IRequestHandler& handler, char* pReceiveArea,
                       int nReceiveArea);
    CConnectionSession(const CConnectionSession&) = delete;
    CConnectionSession& operator=(const CConnectionSession&) = delete;

    // Serves requests until the connection ends: the peer closes, a wait or
    // a send fails, the handler refuses a request, a response without
    // keep-alive has gone out, or the server stops. May throw
    // std::bad_alloc, which ends only this session.
    void Run();

private:
    // Each returns false when the connection must end.
    bool OnReadable();
    bool OnWritable();
    bool HandleGathered();
    bool SendResponse();

    IServerConnection& m_connection;
    IRequestHandler& m_handler;
    char* m_pReceiveArea;
    int m_nReceiveArea;
    std::string m_request;
    CServerResponse m_response;
    int m_nKeepAlive = 0;
    int64_t m_nOffset = 0;        // response bytes already sent
    bool m_bSendPending = false;  // the rest of the response waits for the socket
};
