// The loopback interface for tests and benchmarks that run a real server: a port that is free now, and
// whether a server accepts connections on one. The caller has started Winsock.
#pragma once

#include <winsock2.h>

namespace morix::test {

// A port nobody listens on at this moment, or 0 when none could be had.
inline int freeLoopbackPort() {
    SOCKET probe = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof address;
    int port = 0;
    if (probe != INVALID_SOCKET && bind(probe, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
        getsockname(probe, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
        port = ntohs(address.sin_port);
    }
    if (probe != INVALID_SOCKET) {
        closesocket(probe);
    }
    return port;
}

// One connection attempt to the port on the loopback interface.
inline bool loopbackAccepts(int port) {
    SOCKET client = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (client == INVALID_SOCKET) {
        return false;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<u_short>(port));
    const bool connected = connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    closesocket(client);
    return connected;
}

} // namespace morix::test
