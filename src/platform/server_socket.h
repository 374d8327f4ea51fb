// The connection server's sockets in event-select style: a thread sleeps
// until its socket has events or the server's stop signal is set. Winsock
// event-select implements it on Windows, poll() on POSIX.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

class CInputFile;

// A manual-reset signal that ends every waiting server thread.
class CStopSignal {
public:
    static std::unique_ptr<CStopSignal> Create();   // null on failure
    virtual ~CStopSignal() = default;
    virtual void Set() = 0;
};

// What a wait reports about a connection.
struct SocketEvents {
    bool bRead = false;    // bytes can be received
    bool bWrite = false;   // a send that would have blocked can go on
    bool bClose = false;   // the peer closed (or reset) the connection
};

enum class WaitResult { EVENTS, STOPPED, FAILED };
enum class SendResult { SENT, WOULD_BLOCK, FAILED };

// An accepted connection; closed when destroyed. Used by one thread.
class IServerConnection {
public:
    virtual ~IServerConnection() = default;
    // Ties the socket to its own event for read, write and close.
    virtual bool Select() = 0;
    // Sleeps until the socket has events or the stop signal is set.
    // EVENTS with nothing reported means: wait again.
    virtual WaitResult Wait(SocketEvents* pEvents) = 0;
    // One receive; bytes received, or -1 when it failed.
    virtual int Receive(void* pBuffer, int nSize) = 0;
    // One send of at most nSize bytes; *pnSent is what went out.
    virtual SendResult Send(const void* pData, int nSize, int* pnSent) = 0;
    // One send of nHead bytes from pHead followed by nCount bytes of the file
    // from nOffset; *pnSent counts both, head first. A file that ends before
    // nOffset + nCount fails the send.
    virtual SendResult SendWithFile(const void* pHead, int nHead, CInputFile& file, int64_t nOffset, int nCount,
                                    int* pnSent) = 0;
};

// A listening socket on 127.0.0.1 only. Used by the listener thread.
class IServerListener {
public:
    virtual ~IServerListener() = default;
    // Sleeps until a connection waits or the stop signal is set.
    virtual WaitResult WaitForConnection() = 0;
    // Accepts one connection; null when the accept failed. ip receives the
    // peer's dotted quad, port the peer's port in network byte order.
    virtual std::unique_ptr<IServerConnection> Accept(std::string* ip, uint16_t* port) = 0;
};

// The four bytes of an IPv4 address, in network order, as "a.b.c.d".
std::string FormatDottedQuad(const void* address);

// Starts listening on 127.0.0.1:port with the stop signal; null on failure
// (networking unavailable, the port taken).
std::unique_ptr<IServerListener> ListenOnLoopback(uint16_t port, CStopSignal& stop);
