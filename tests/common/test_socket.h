// A plain blocking TCP client for the server tests, on Winsock or POSIX
// sockets. Every read has a deadline, so a test never waits for ever.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
using NativeSocket = SOCKET;
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
using NativeSocket = int;
#endif

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

class TestSocket {
public:
    TestSocket()
    {
#ifdef _WIN32
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
#endif
    }
    ~TestSocket()
    {
        Close();
#ifdef _WIN32
        WSACleanup();
#endif
    }
    TestSocket(const TestSocket&) = delete;
    TestSocket& operator=(const TestSocket&) = delete;

    bool Connect(uint16_t port, const char* address = "127.0.0.1")
    {
        m_socket = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in target = {};
        target.sin_family = AF_INET;
        target.sin_port = htons(port);
        inet_pton(AF_INET, address, &target.sin_addr);
        return connect(m_socket, reinterpret_cast<sockaddr*>(&target), sizeof(target)) == 0;
    }

    bool Send(const std::string& bytes)
    {
        size_t done = 0;
        while (done < bytes.size()) {
            int n = static_cast<int>(::send(m_socket, bytes.data() + done, static_cast<int>(bytes.size() - done), 0));
            if (n <= 0) return false;
            done += static_cast<size_t>(n);
        }
        return true;
    }

    // Reads what arrives within timeoutMs; stops early at the peer's close.
    // pbClosed tells whether the peer closed.
    std::string Read(int timeoutMs, bool* pbClosed = nullptr, size_t nMax = SIZE_MAX)
    {
        std::string data;
        bool closed = false;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        char buffer[65536];
        while (data.size() < nMax) {
            int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                            deadline - std::chrono::steady_clock::now())
                                            .count());
            if (left <= 0 || !Readable(left)) break;
            size_t want = nMax - data.size() < sizeof(buffer) ? nMax - data.size() : sizeof(buffer);
            int n = static_cast<int>(recv(m_socket, buffer, static_cast<int>(want), 0));
            if (n <= 0) {
                closed = true;
                break;
            }
            data.append(buffer, static_cast<size_t>(n));
        }
        if (pbClosed) *pbClosed = closed;
        return data;
    }

    // Reads one response of the local server: its header and Content-Length bytes.
    std::string ReadResponse(int timeoutMs)
    {
        std::string data;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < deadline) {
            size_t end = data.find("\r\n\r\n");
            if (end != std::string::npos) {
                size_t at = data.find("Content-Length: ");
                size_t length = at == std::string::npos ? 0 : std::stoul(data.substr(at + 16));
                if (data.size() >= end + 4 + length) return data;
            }
            std::string more = Read(50, nullptr, 1 << 20);
            if (more.empty() && !Readable(0) && data.empty() && std::chrono::steady_clock::now() >= deadline) break;
            data += more;
        }
        return data;
    }

    void Close()
    {
        if (!m_bOpen()) return;
#ifdef _WIN32
        closesocket(m_socket);
#else
        close(m_socket);
#endif
        m_socket = Invalid();
    }

private:
    static NativeSocket Invalid()
    {
#ifdef _WIN32
        return INVALID_SOCKET;
#else
        return -1;
#endif
    }
    bool m_bOpen() const { return m_socket != Invalid(); }

    bool Readable(int timeoutMs)
    {
#ifdef _WIN32
        WSAPOLLFD fd = {m_socket, POLLRDNORM, 0};
        return WSAPoll(&fd, 1, timeoutMs) > 0;
#else
        pollfd fd = {m_socket, POLLIN, 0};
        return poll(&fd, 1, timeoutMs) > 0;
#endif
    }

    NativeSocket m_socket = Invalid();
};
