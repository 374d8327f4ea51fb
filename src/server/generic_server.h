// CGenericServer: the transport half of the local resource server. It
// listens on one port of 127.0.0.1 and gives every connection a thread, on
// which a CConnectionSession serves it with the subclass as its request
// handler: the subclass's IsRequestComplete, HandleRequest and OnSent run on
// every connection thread at once.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>

#include "platform/server_socket.h"
#include "platform/thread.h"
#include "server/connection_session.h"

class CGenericServer : protected IRequestHandler {
public:
    // What each connection receives into, per receive.
    static constexpr int RECEIVE_AREA_BYTES = 512 * 1024;
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
    // After Start failed because it could not listen: why, in a few words.
    const std::string& ListenFailure() const { return m_listenFailure; }

    // Ends every server thread and waits for them. The program itself never
    // stops its server; tests and the resource server tool do.
    void Stop();

    // Connection threads that have not been reaped yet, for tests.
    size_t ThreadCount();

protected:
    // Told of each accepted connection before its thread starts; the result
    // is ignored. port is in network byte order.
    virtual int OnAccept(const char* ip, uint16_t port) = 0;

private:
    struct ConnectionThread {
        std::unique_ptr<CThread> thread;
    };

    void ListenerMain(uint16_t port);
    void ReaperMain();
    void StartConnectionThread(std::unique_ptr<IServerConnection> connection);
    void ConnectionMain(std::unique_ptr<IServerConnection> connection, ConnectionThread* self);
    // Serves the connection with a session of its own until it ends.
    void Serve(IServerConnection& connection);

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
    std::string m_listenFailure;   // written by the listener before it reports FAILED
};
