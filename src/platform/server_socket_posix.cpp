// The connection server's sockets over poll(): each wait covers the socket
// and the stop pipe, and write readiness is asked for only after a send would
// have blocked, as event-select reports it.
#include "platform/server_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "platform/accepted_socket.h"
#include "platform/file_system.h"

namespace {

class CPosixStopSignal : public CStopSignal {
public:
    CPosixStopSignal(int readFd, int writeFd) : m_readFd(readFd), m_writeFd(writeFd) {}
    ~CPosixStopSignal() override
    {
        close(m_readFd);
        close(m_writeFd);
    }
    // The byte stays in the pipe: the signal stays set for every waiter.
    void Set() override
    {
        char byte = 1;
        ssize_t ignored = write(m_writeFd, &byte, 1);
        (void)ignored;
    }
    bool Wait(int nMilliseconds) override
    {
        pollfd fd = {m_readFd, POLLIN, 0};
        return poll(&fd, 1, nMilliseconds) > 0;
    }
    int ReadFd() const { return m_readFd; }

private:
    int m_readFd;
    int m_writeFd;
};

// Polls fd for events and the stop pipe; false when stopped or failed.
WaitResult PollWithStop(int fd, short events, int stopFd, short* pReturned)
{
    for (;;) {
        pollfd fds[2] = {{fd, events, 0}, {stopFd, POLLIN, 0}};
        int ready = poll(fds, 2, -1);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return WaitResult::FAILED;
        if (fds[1].revents) return WaitResult::STOPPED;
        *pReturned = fds[0].revents;
        return WaitResult::EVENTS;
    }
}

class CPosixConnection : public IServerConnection {
public:
    CPosixConnection(int fd, int stopFd) : m_fd(fd), m_stopFd(stopFd) {}
    ~CPosixConnection() override { close(m_fd); }

    bool Select() override { return true; }

    WaitResult Wait(SocketEvents* pEvents) override
    {
        *pEvents = SocketEvents();
        short returned = 0;
        short wanted = POLLIN | POLLRDHUP | (m_bWantWrite ? POLLOUT : 0);
        WaitResult result = PollWithStop(m_fd, wanted, m_stopFd, &returned);
        if (result != WaitResult::EVENTS) return result;
        pEvents->bRead = (returned & POLLIN) != 0;
        pEvents->bWrite = (returned & POLLOUT) != 0;
        pEvents->bClose = (returned & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
        if (pEvents->bWrite) m_bWantWrite = false;
        return result;
    }

    int Receive(void* pBuffer, int nSize) override
    {
        ssize_t received = recv(m_fd, pBuffer, static_cast<size_t>(nSize), 0);
        return received < 0 ? -1 : static_cast<int>(received);
    }

    SendResult Send(const void* pFirst, int nFirst, const void* pSecond, int nSecond, int* pnSent) override
    {
        iovec pieces[2] = {{const_cast<void*>(pFirst), static_cast<size_t>(nFirst)},
                           {const_cast<void*>(pSecond), static_cast<size_t>(nSecond)}};
        msghdr message = {};
        message.msg_iov = pieces;
        message.msg_iovlen = 2;
        *pnSent = 0;
        ssize_t sent = sendmsg(m_fd, &message, MSG_NOSIGNAL);
        if (sent < 0) return Failure(0);
        *pnSent = static_cast<int>(sent);
        return SendResult::SENT;
    }

    SendResult SendWithFile(const void* pHead, int nHead, CInputFile& file, int64_t nOffset, int nCount,
                            int* pnSent) override
    {
        *pnSent = 0;
        if (nHead > 0) {
            // The head is held back until the file's first bytes join it,
            // so that a small response leaves in one segment.
            SendResult result = SendBytes(pHead, nHead, nCount > 0 ? MSG_MORE : 0, pnSent);
            if (result != SendResult::SENT || *pnSent < nHead) return result;
        }
        if (nCount <= 0) return SendResult::SENT;
        off_t offset = static_cast<off_t>(nOffset);
        ssize_t sent = sendfile(m_fd, static_cast<int>(file.NativeHandle()), &offset, static_cast<size_t>(nCount));
        if (sent > 0) {
            *pnSent += static_cast<int>(sent);
            return SendResult::SENT;
        }
        // The file ended early or could not be read: the response cannot
        // be completed.
        if (sent == 0 || (sent < 0 && errno == EIO)) return SendResult::FILE_FAILED;
        return Failure(*pnSent);
    }

private:
    SendResult SendBytes(const void* pData, int nSize, int flags, int* pnSent)
    {
        *pnSent = 0;
        ssize_t sent = send(m_fd, pData, static_cast<size_t>(nSize), MSG_NOSIGNAL | flags);
        if (sent < 0) return Failure(0);
        *pnSent = static_cast<int>(sent);
        return SendResult::SENT;
    }

    // What a failed send call means, when nSent bytes went out before it.
    SendResult Failure(int nSent)
    {
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (nSent > 0) return SendResult::SENT;
            m_bWantWrite = true;
            return SendResult::WOULD_BLOCK;
        }
        return errno == EINTR ? SendResult::SENT : SendResult::FAILED;
    }

    int m_fd;
    int m_stopFd;
    bool m_bWantWrite = false;
};

class CPosixListener : public IServerListener {
public:
    CPosixListener(int fd, int stopFd) : m_fd(fd), m_stopFd(stopFd) {}
    ~CPosixListener() override { close(m_fd); }

    WaitResult WaitForConnection() override
    {
        short returned = 0;
        return PollWithStop(m_fd, POLLIN, m_stopFd, &returned);
    }

    std::unique_ptr<IServerConnection> Accept(std::string* ip, uint16_t* port) override
    {
        sockaddr_in peer = {};
        socklen_t length = sizeof(peer);
        int fd = accept4(m_fd, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) return nullptr;
        return AdoptAcceptedSocket(new (std::nothrow) CPosixConnection(fd, m_stopFd), fd, close, peer, ip, port);
    }

private:
    int m_fd;
    int m_stopFd;
};

}  // namespace

std::unique_ptr<CStopSignal> CStopSignal::Create()
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return nullptr;
    return std::make_unique<CPosixStopSignal>(fds[0], fds[1]);
}

std::unique_ptr<IServerListener> ListenOnLoopback(uint16_t port, CStopSignal& stop, std::string* pReason)
{
    // sendfile() has no MSG_NOSIGNAL: a client that leaves in the middle of
    // a file would otherwise end the whole process with SIGPIPE.
    signal(SIGPIPE, SIG_IGN);
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        *pReason = std::string("no socket: ") + std::strerror(errno);
        return nullptr;
    }
    // Lets a restarted server listen at once despite connections in
    // TIME_WAIT; Linux still refuses a second listener on the port.
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 || listen(fd, SOMAXCONN) != 0) {
        *pReason = errno == EADDRINUSE ? "the port is taken" : std::strerror(errno);
        close(fd);
        return nullptr;
    }
    return std::make_unique<CPosixListener>(fd, static_cast<CPosixStopSignal&>(stop).ReadFd());
}
