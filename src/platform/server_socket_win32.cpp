// The connection server's sockets over Winsock 2 in event-select mode.
#include "platform/server_socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>

#include <memory>
#include <new>
#include <vector>

#include "platform/accepted_socket.h"
#include "platform/file_system.h"
#include "platform/wide_text_win32.h"

namespace {

// A file's bytes are read into a block of at most this size per send.
const int FILE_CHUNK_BYTES = 512 * 1024;

// Reads exactly nCount bytes of the file from nOffset; false when it ends
// before or cannot be read. The handle's own position is set and read from
// rather than an offset passed in an OVERLAPPED: under Wine, a read given an
// OVERLAPPED also posts a completion, one more round trip to its server for
// every answer.
bool ReadAt(HANDLE file, int64_t nOffset, char* pBuffer, int nCount)
{
    LARGE_INTEGER position;
    position.QuadPart = nOffset;
    if (!SetFilePointerEx(file, position, nullptr, FILE_BEGIN)) return false;
    while (nCount > 0) {
        DWORD done = 0;
        if (!ReadFile(file, pBuffer, static_cast<DWORD>(nCount), &done, nullptr) || done == 0) return false;
        pBuffer += done;
        nCount -= static_cast<int>(done);
    }
    return true;
}

// Holds Winsock started for as long as the signal lives: its event is a
// Winsock object, and Winsock must be started before any of them is made.
class CWin32StopSignal : public CStopSignal {
public:
    explicit CWin32StopSignal(WSAEVENT event) : m_event(event) {}
    ~CWin32StopSignal() override
    {
        WSACloseEvent(m_event);
        WSACleanup();
    }
    void Set() override { WSASetEvent(m_event); }
    bool Wait(int nMilliseconds) override
    {
        return WSAWaitForMultipleEvents(1, &m_event, FALSE, static_cast<DWORD>(nMilliseconds), FALSE) ==
               WSA_WAIT_EVENT_0;
    }
    WSAEVENT Handle() const { return m_event; }

private:
    WSAEVENT m_event;
};

class CWin32Connection : public IServerConnection {
public:
    CWin32Connection(SOCKET socket, WSAEVENT stop) : m_socket(socket), m_stop(stop) {}
    ~CWin32Connection() override
    {
        if (m_event != WSA_INVALID_EVENT) WSACloseEvent(m_event);
        closesocket(m_socket);
    }

    bool Select() override
    {
        m_event = WSACreateEvent();
        if (m_event == WSA_INVALID_EVENT) return false;
        // Replaces the accept association inherited from the listening socket.
        return WSAEventSelect(m_socket, m_event, FD_READ | FD_WRITE | FD_CLOSE) == 0;
    }

    WaitResult Wait(SocketEvents* pEvents) override
    {
        *pEvents = SocketEvents();
        WSAEVENT events[2] = {m_event, m_stop};
        DWORD index = WSAWaitForMultipleEvents(2, events, FALSE, WSA_INFINITE, FALSE);
        if (index == WSA_WAIT_EVENT_0 + 1) return WaitResult::STOPPED;
        if (index != WSA_WAIT_EVENT_0) return WaitResult::FAILED;
        WSANETWORKEVENTS network;
        // The event stays set when its record cannot be read; waiting again
        // would return at once, for ever. The connection ends instead.
        if (WSAEnumNetworkEvents(m_socket, m_event, &network) != 0) return WaitResult::FAILED;
        pEvents->bRead = (network.lNetworkEvents & FD_READ) != 0;
        pEvents->bWrite = (network.lNetworkEvents & FD_WRITE) != 0;
        pEvents->bClose = (network.lNetworkEvents & FD_CLOSE) != 0;
        return WaitResult::EVENTS;
    }

    int Receive(void* pBuffer, int nSize) override
    {
        WSABUF buffer = {static_cast<ULONG>(nSize), static_cast<char*>(pBuffer)};
        DWORD received = 0;
        DWORD flags = 0;
        if (WSARecv(m_socket, &buffer, 1, &received, &flags, nullptr, nullptr) != 0) return -1;
        return static_cast<int>(received);
    }

    SendResult Send(const void* pFirst, int nFirst, const void* pSecond, int nSecond, int* pnSent) override
    {
        WSABUF buffers[2] = {{static_cast<ULONG>(nFirst), const_cast<char*>(static_cast<const char*>(pFirst))},
                             {static_cast<ULONG>(nSecond), const_cast<char*>(static_cast<const char*>(pSecond))}};
        return SendBuffers(buffers, nSecond > 0 ? 2 : 1, pnSent);
    }

    // The file's part is read into a block first and goes out with the head
    // in one gathering send. Bytes read but not taken by the socket are read
    // again by the next call.
    SendResult SendWithFile(const void* pHead, int nHead, CInputFile& file, int64_t nOffset, int nCount,
                            int* pnSent) override
    {
        *pnSent = 0;
        int chunk = nCount < FILE_CHUNK_BYTES ? nCount : FILE_CHUNK_BYTES;
        std::unique_ptr<char[]> block(chunk > 0 ? new (std::nothrow) char[chunk] : nullptr);
        if (chunk > 0 && !block) return SendResult::FAILED;
        if (chunk > 0 && !ReadAt(reinterpret_cast<HANDLE>(file.NativeHandle()), nOffset, block.get(), chunk)) {
            return SendResult::FILE_FAILED;
        }
        WSABUF buffers[2] = {{static_cast<ULONG>(nHead), const_cast<char*>(static_cast<const char*>(pHead))},
                             {static_cast<ULONG>(chunk), block.get()}};
        return nHead > 0 ? SendBuffers(buffers, 2, pnSent) : SendBuffers(buffers + 1, 1, pnSent);
    }

private:
    SendResult SendBuffers(WSABUF* pBuffers, DWORD nBuffers, int* pnSent)
    {
        DWORD sent = 0;
        *pnSent = 0;
        if (WSASend(m_socket, pBuffers, nBuffers, &sent, 0, nullptr, nullptr) != 0) {
            return WSAGetLastError() == WSAEWOULDBLOCK ? SendResult::WOULD_BLOCK : SendResult::FAILED;
        }
        *pnSent = static_cast<int>(sent);
        return SendResult::SENT;
    }

    SOCKET m_socket;
    WSAEVENT m_stop;
    WSAEVENT m_event = WSA_INVALID_EVENT;
};

class CWin32Listener : public IServerListener {
public:
    explicit CWin32Listener(WSAEVENT stop) : m_stop(stop) {}
    ~CWin32Listener() override
    {
        if (m_accept != WSA_INVALID_EVENT) WSACloseEvent(m_accept);
        if (m_socket != INVALID_SOCKET) closesocket(m_socket);
        if (m_bStarted) WSACleanup();
    }

    bool Open(uint16_t port)
    {
        WSADATA data;
        if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return false;
        m_bStarted = true;
        if (LOBYTE(data.wVersion) != 2 || HIBYTE(data.wVersion) != 2) return false;
        m_socket = WSASocketW(AF_INET, SOCK_STREAM, 0, nullptr, 0, WSA_FLAG_OVERLAPPED);
        if (m_socket == INVALID_SOCKET) return false;
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        // Loopback only: nothing on the player's network may read the cache
        // or make this machine fetch for it.
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) return false;
        if (listen(m_socket, SOMAXCONN) != 0) return false;
        m_accept = WSACreateEvent();
        if (m_accept == WSA_INVALID_EVENT) return false;
        return WSAEventSelect(m_socket, m_accept, FD_ACCEPT) == 0;
    }

    WaitResult WaitForConnection() override
    {
        for (;;) {
            WSAEVENT events[2] = {m_stop, m_accept};
            DWORD index = WSAWaitForMultipleEvents(2, events, FALSE, WSA_INFINITE, FALSE);
            if (index == WSA_WAIT_EVENT_0) return WaitResult::STOPPED;
            if (index != WSA_WAIT_EVENT_0 + 1) return WaitResult::FAILED;
            WSANETWORKEVENTS network;
            if (WSAEnumNetworkEvents(m_socket, m_accept, &network) != 0) return WaitResult::FAILED;
            if (network.lNetworkEvents == FD_ACCEPT) return WaitResult::EVENTS;
        }
    }

    std::unique_ptr<IServerConnection> Accept(std::string* ip, uint16_t* port) override
    {
        sockaddr_in peer = {};
        int length = sizeof(peer);
        SOCKET socket = WSAAccept(m_socket, reinterpret_cast<sockaddr*>(&peer), &length, nullptr, 0);
        if (socket == INVALID_SOCKET) return nullptr;
        return AdoptAcceptedSocket(new (std::nothrow) CWin32Connection(socket, m_stop), socket, closesocket, peer, ip,
                                   port);
    }

private:
    WSAEVENT m_stop;
    bool m_bStarted = false;
    SOCKET m_socket = INVALID_SOCKET;
    WSAEVENT m_accept = WSA_INVALID_EVENT;
};

// " by process <id> (<program file>)" for the process that Windows names as
// the holder of a listening socket on port, or "" when it names none.
std::string PortHolder(uint16_t port)
{
    ULONG size = 0;
    std::vector<char> table;
    DWORD result = ERROR_INSUFFICIENT_BUFFER;
    for (int attempt = 0; attempt < 3 && result == ERROR_INSUFFICIENT_BUFFER; ++attempt) {
        table.resize(size);
        result = GetExtendedTcpTable(table.empty() ? nullptr : table.data(), &size, FALSE, AF_INET,
                                     TCP_TABLE_OWNER_PID_LISTENER, 0);
    }
    if (result != NO_ERROR) return std::string();
    const auto* rows = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID*>(table.data());
    for (DWORD i = 0; i < rows->dwNumEntries; ++i) {
        const MIB_TCPROW_OWNER_PID& row = rows->table[i];
        if (ntohs(static_cast<u_short>(row.dwLocalPort)) != port || row.dwOwningPid == 0) continue;
        std::string holder = " by process " + std::to_string(row.dwOwningPid);
        HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, row.dwOwningPid);
        if (process) {
            wchar_t image[MAX_PATH];
            DWORD length = MAX_PATH;
            if (QueryFullProcessImageNameW(process, 0, image, &length)) {
                std::wstring path(image, length);
                holder += " (" + WideToUtf8(path.substr(path.find_last_of(L"\\/") + 1)) + ")";
            }
            CloseHandle(process);
        }
        return holder;
    }
    return std::string();
}

}  // namespace

std::unique_ptr<CStopSignal> CStopSignal::Create()
{
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return nullptr;
    WSAEVENT event = WSACreateEvent();
    std::unique_ptr<CStopSignal> signal(event != WSA_INVALID_EVENT ? new (std::nothrow) CWin32StopSignal(event)
                                                                   : nullptr);
    if (!signal) {
        if (event != WSA_INVALID_EVENT) WSACloseEvent(event);
        WSACleanup();
    }
    return signal;
}

std::unique_ptr<IServerListener> ListenOnLoopback(uint16_t port, CStopSignal& stop, std::string* pReason)
{
    auto listener = std::make_unique<CWin32Listener>(static_cast<CWin32StopSignal&>(stop).Handle());
    if (!listener->Open(port)) {
        int error = WSAGetLastError();
        *pReason = error == WSAEADDRINUSE || error == WSAEACCES ? "the port is taken" + PortHolder(port)
                                                                 : "Winsock error " + std::to_string(error);
        return nullptr;
    }
    return listener;
}
