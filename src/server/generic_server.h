// CGenericServer: the transport half of the local resource server. It
// listens on one port of 127.0.0.1, gives every connection a thread, gathers
// bytes until the subclass says a request is complete, lets the subclass
// write the whole response into a buffer, sends it and keeps the connection
// open when the subclass asks for it.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>

#include "platform/server_socket.h"
#include "platform/thread.h"
#include "server/server_response.h"

class CGenericServer {
public:
    // A request text that grows past this without completing closes its
    // connection, so memory per connection stays bounded.
    static constexpr size_t MAX_REQUEST_BYTES = 64 * 1024;
    static constexpr int RECEIVE_AREA_BYTES = 512 * 1024;
    static constexpr int MAX_SEND_BYTES = 2 * 1024 * 1024;
    static constexpr int START_TIMEOUT_MS = 30000;
    // The pause after a failed accept.
    static constexpr int ACCEPT_RETRY_MS = 50;

    CGenericServer() = default;
    // Stops the server first: no thread may touch it after its release.
    virtual ~CGenericServer();
    CGenericServer(const CGenericServer&) = delete;
    CGenericServer& operator=(const CGenericServer&) = delete;

    // Starts listening on 127.0.0.1:port with a listener and a reaper thread.
    // Returns once both run (true), or when listening failed or 30 s passed
    // (false). A second call after success returns false and changes nothing.
    bool Start(uint16_t port);

    // Ends every server thread and waits for them. The program itself never
    // stops its server; tests and the resource server tool do.
    void Stop();

    // Connection threads that have not been reaped yet, for tests.
    size_t ThreadCount();

protected:
    // Told of each accepted connection before its thread starts; the result
    // is ignored. port is in network byte order.
    virtual int OnAccept(const char* ip, uint16_t port) = 0;
    // Told after a response went out in full.
    virtual int OnSent(uint32_t nBytes) = 0;
    // True when request holds a whole request.
    virtual bool IsRequestComplete(const std::string& request) = 0;
    // Appends the whole response to pResponse, or its head with a file to
    // follow it; may set *pnKeepAlive to 1. False closes the connection with
    // nothing sent.
    virtual bool HandleRequest(const std::string& request, CServerResponse* pResponse, int* pnKeepAlive) = 0;

private:
    struct ConnectionThread {
        std::unique_ptr<CThread> thread;
    };

    void ListenerMain(uint16_t port);
    void ReaperMain();
    void StartConnectionThread(std::unique_ptr<IServerConnection> connection);
    void ConnectionMain(std::unique_ptr<IServerConnection> connection, ConnectionThread* self);
    // Receives requests and sends responses until the connection ends.
    void Serve(IServerConnection& connection);
    void ReapFinished();

    std::unique_ptr<CStopSignal> m_pStop;
    std::unique_ptr<CThread> m_pListener;
    std::unique_ptr<CThread> m_pReaper;

    // Start-up handshake with the listener and reaper threads.
    std::mutex m_startLock;
    std::condition_variable m_startChanged;
    enum class ThreadState { PENDING, RUNNING, FAILED } m_listenerState = ThreadState::PENDING,
                                                       m_reaperState = ThreadState::PENDING;

    // The accept lock is held from before a connection thread starts until
    // it is registered, and taken by each thread at its end, so a thread never
    // looks for its entry before it is there. Order: accept, then thread list.
    std::mutex m_acceptLock;
    std::mutex m_threadListLock;
    std::condition_variable m_finishedChanged;
    std::list<std::unique_ptr<ConnectionThread>> m_running;
    std::list<std::unique_ptr<ConnectionThread>> m_finished;
    bool m_bStopping = false;

    bool m_bStarted = false;
    uint16_t m_nPort = 0;
};
