// The connection server's sockets in event-select style: a thread sleeps
// until its socket has events or the server's stop signal is set. Winsock
// event-select implements it on Windows, poll() on POSIX.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

class CInputFile;

// A manual-reset signal that ends every waiting server thread. Creating it
// starts the system's networking (Winsock on Windows), which lasts as long
// as the signal.
class CStopSignal {
public:
    static std::unique_ptr<CStopSignal> Create();   // null on failure
    virtual ~CStopSignal() = default;
    virtual void Set() = 0;
    // Sleeps up to nMilliseconds; true as soon as the signal is set.
    virtual bool Wait(int nMilliseconds) = 0;
};

// What a wait reports about a connection.
struct SocketEvents {
    bool bRead = false;    // bytes can be received
    bool bWrite = false;   // a send that would have blocked can go on
    bool bClose = false;   // the peer closed (or reset) the connection
};

enum class WaitResult { EVENTS, STOPPED, FAILED };
// FILE_FAILED: the file of SendWithFile could not be read whole (it was cut
// short behind the server's back, or a read failed); the connection cannot
// carry on with that response.
enum class SendResult { SENT, WOULD_BLOCK, FAILED, FILE_FAILED };

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
    // One gathering send of nFirst bytes from pFirst followed by nSecond
    // bytes from pSecond (either count may be 0); *pnSent counts both, the
    // first piece first.
    virtual SendResult Send(const void* pFirst, int nFirst, const void* pSecond, int nSecond, int* pnSent) = 0;
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
    // Accepts one connection; null when the accept failed (no connection
    // waited any more, or no descriptor or memory was left for it). ip
    // receives the peer's dotted quad, port the peer's port in network byte
    // order.
    virtual std::unique_ptr<IServerConnection> Accept(std::string* ip, uint16_t* port) = 0;
};

// The four bytes of an IPv4 address, in network order, as "a.b.c.d".
std::string FormatDottedQuad(const void* address);

// Starts listening on 127.0.0.1:port with the stop signal; null on failure
// (networking unavailable, the port taken), with *pReason saying why in a
// few words for the log: for a port that is taken, the process that holds
// it where the system says.
std::unique_ptr<IServerListener> ListenOnLoopback(uint16_t port, CStopSignal& stop, std::string* pReason);
