#include "server/generic_server.h"

#include <chrono>
#include <new>

#include "platform/system_memory.h"

CGenericServer::~CGenericServer()
{
    Stop();
}

bool CGenericServer::Start(uint16_t port)
{
    if (m_bStarted || m_pStop) return false;
    m_nPort = port;
    LimitHeapRetention();
    m_pStop = CStopSignal::Create();
    if (!m_pStop) return false;

    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(START_TIMEOUT_MS);
    m_pListener = CThread::Start([this, port] { ListenerMain(port); });
    if (!m_pListener) return false;
    {
        std::unique_lock<std::mutex> lock(m_startLock);
        m_startChanged.wait_until(lock, deadline, [this] { return m_listenerState != ThreadState::PENDING; });
        // A listener that could not listen ends at once, and the caller
        // hears of it then rather than after the whole wait.
        if (m_listenerState != ThreadState::RUNNING) return false;
    }
    m_pReaper = CThread::Start([this] { ReaperMain(); });
    if (!m_pReaper) return false;
    {
        std::unique_lock<std::mutex> lock(m_startLock);
        deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(START_TIMEOUT_MS);
        m_startChanged.wait_until(lock, deadline, [this] { return m_reaperState != ThreadState::PENDING; });
        if (m_reaperState != ThreadState::RUNNING) return false;
    }
    m_bStarted = true;
    return true;
}

void CGenericServer::Stop()
{
    if (!m_pStop) return;
    m_pStop->Set();
    if (m_pListener) m_pListener->Join();
    {
        std::lock_guard<std::mutex> lock(m_threadListLock);
        m_bStopping = true;
        m_finishedChanged.notify_all();
    }
    if (m_pReaper) m_pReaper->Join();
    // Every connection thread ends on the stop signal; wait for them all.
    for (;;) {
        std::unique_ptr<ConnectionThread> next;
        {
            std::lock_guard<std::mutex> accept(m_acceptLock);
            std::lock_guard<std::mutex> lock(m_threadListLock);
            if (!m_finished.empty()) {
                next = std::move(m_finished.front());
                m_finished.pop_front();
            } else if (!m_running.empty()) {
                next = std::move(m_running.front());
                m_running.pop_front();
            } else {
                break;
            }
        }
        next->thread->Join();
    }
    m_pListener.reset();
    m_pReaper.reset();
    m_pStop.reset();
}

size_t CGenericServer::ThreadCount()
{
    std::lock_guard<std::mutex> lock(m_threadListLock);
    return m_running.size() + m_finished.size();
}

void CGenericServer::ListenerMain(uint16_t port)
{
    std::string reason;
    std::unique_ptr<IServerListener> listener = ListenOnLoopback(port, *m_pStop, &reason);
    {
        std::lock_guard<std::mutex> lock(m_startLock);
        m_listenFailure = reason;
        m_listenerState = listener ? ThreadState::RUNNING : ThreadState::FAILED;
        m_startChanged.notify_all();
    }
    if (!listener) return;

    while (listener->WaitForConnection() == WaitResult::EVENTS) {
        // Out of memory or address space, the connection is closed and the
        // server goes on with the ones it holds.
        try {
            std::string ip;
            uint16_t peerPort = 0;
            std::unique_ptr<IServerConnection> connection = listener->Accept(&ip, &peerPort);
            if (!connection) {
                // With no descriptor or handle left the connection stays
                // pending and the wait returns at once: pause rather than
                // spin until something is freed.
                if (m_pStop->Wait(ACCEPT_RETRY_MS)) break;
                continue;
            }
            OnAccept(ip.c_str(), peerPort);
            StartConnectionThread(std::move(connection));
        } catch (const std::bad_alloc&) {
        }
    }
}

void CGenericServer::StartConnectionThread(std::unique_ptr<IServerConnection> connection)
{
    std::lock_guard<std::mutex> accept(m_acceptLock);
    // The list node is made before the thread, so that registering the
    // thread cannot fail once it runs.
    std::list<std::unique_ptr<ConnectionThread>> entry;
    entry.push_back(std::make_unique<ConnectionThread>());
    ConnectionThread* self = entry.front().get();
    // The connection moves into its thread; one that cannot be created
    // closes the socket with the connection object.
    auto shared = std::make_shared<std::unique_ptr<IServerConnection>>(std::move(connection));
    self->thread = CThread::Start([this, shared, self] { ConnectionMain(std::move(*shared), self); });
    if (!self->thread) return;
    std::lock_guard<std::mutex> lock(m_threadListLock);
    m_running.splice(m_running.end(), entry);
}

void CGenericServer::ReaperMain()
{
    {
        std::lock_guard<std::mutex> lock(m_startLock);
        m_reaperState = ThreadState::RUNNING;
        m_startChanged.notify_all();
    }
    std::unique_lock<std::mutex> lock(m_threadListLock);
    while (!m_bStopping) {
        m_finishedChanged.wait_for(lock, std::chrono::milliseconds(100));
        // A finished thread has left its work and is about to exit: joining
        // waits for that exit. A thread is never terminated from outside,
        // which could leave a lock of the heap held.
        bool reaped = !m_finished.empty();
        while (!m_finished.empty()) {
            std::unique_ptr<ConnectionThread> done = std::move(m_finished.front());
            m_finished.pop_front();
            lock.unlock();
            done->thread->Join();
            lock.lock();
        }
        // The last connection has ended: what the burst held goes back to
        // the system rather than staying with the heap.
        if (reaped && m_running.empty()) {
            lock.unlock();
            ReturnFreeHeapMemory();
            lock.lock();
        }
    }
}

void CGenericServer::ConnectionMain(std::unique_ptr<IServerConnection> connection, ConnectionThread* self)
{
    try {
        Serve(*connection);
    } catch (const std::bad_alloc&) {
        // Out of memory: this connection ends, the server goes on.
    }
    connection.reset();

    // Move this thread from the running list to the finished list. Taking the
    // accept lock first guarantees the listener has registered it.
    std::lock_guard<std::mutex> accept(m_acceptLock);
    std::lock_guard<std::mutex> lock(m_threadListLock);
    // Moved by its list node, which allocates nothing: out of memory, the
    // thread is still reaped.
    for (auto it = m_running.begin(); it != m_running.end(); ++it) {
        if (it->get() == self) {
            m_finished.splice(m_finished.end(), m_running, it);
            m_finishedChanged.notify_all();
            break;
        }
    }
}

void CGenericServer::Serve(IServerConnection& connection)
{
    CPageBlock area(RECEIVE_AREA_BYTES);
    if (!area.Data()) return;
    CConnectionSession(connection, *this, area.Data(), RECEIVE_AREA_BYTES).Run();
}
