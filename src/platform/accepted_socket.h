// The part of accepting a connection that the Winsock and the POSIX sockets
// share. Included by both after their own socket headers, which declare
// setsockopt, sockaddr_in, IPPROTO_TCP and TCP_NODELAY alike.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/server_socket.h"

// Makes pConnection (made with nothrow new, so null when memory ran out) the
// owner of the socket just accepted from peer and sets the socket's
// options; ip receives the peer's dotted quad, port its port in network
// byte order. Without a connection object the socket is closed with
// closeSocket and the result is null: no failure leaves the socket open.
template <typename Socket, typename Close>
std::unique_ptr<IServerConnection> AdoptAcceptedSocket(IServerConnection* pConnection, Socket socket,
                                                       Close closeSocket, const sockaddr_in& peer, std::string* ip,
                                                       uint16_t* port)
{
    std::unique_ptr<IServerConnection> connection(pConnection);
    if (!connection) {
        closeSocket(socket);
        return nullptr;
    }
    // A response goes out in one send; the tail of a large one must not wait
    // for the client's delayed acknowledgement.
    int on = 1;
    setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof(on));
    *ip = FormatDottedQuad(&peer.sin_addr);
    *port = peer.sin_port;
    return connection;
}
