#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>

#include "platform/NetSocket.h"

namespace platform {

int WaitSocket(SocketHandle socket, SocketWait what, int timeoutMs) {
    WSAPOLLFD p{static_cast<SOCKET>(socket),
                static_cast<SHORT>(what == SocketWait::kRead ? POLLRDNORM : POLLWRNORM), 0};
    const int ready = WSAPoll(&p, 1, timeoutMs);
    if (ready > 0) return 1;
    return ready < 0 ? -1 : 0;
}

long SendSocket(SocketHandle socket, const char* data, size_t size) {
    const int n =
        ::send(static_cast<SOCKET>(socket), data, static_cast<int>(std::min<size_t>(size, 1u << 30)), 0);
    return n == SOCKET_ERROR ? -1 : n;
}

long ReceiveSocket(SocketHandle socket, char* data, size_t size) {
    const int n =
        ::recv(static_cast<SOCKET>(socket), data, static_cast<int>(std::min<size_t>(size, 1u << 30)), 0);
    return n == SOCKET_ERROR ? -1 : n;
}

bool SocketAddress(SocketHandle socket, bool peer, std::string* ip, int* port) {
    sockaddr_storage address{};
    int length = sizeof address;
    auto* a = reinterpret_cast<sockaddr*>(&address);
    const SOCKET s = static_cast<SOCKET>(socket);
    if ((peer ? getpeername(s, a, &length) : getsockname(s, a, &length)) != 0) return false;
    char text[INET6_ADDRSTRLEN] = "";
    if (address.ss_family == AF_INET) {
        auto* in = reinterpret_cast<sockaddr_in*>(&address);
        inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
        *port = ntohs(in->sin_port);
    } else if (address.ss_family == AF_INET6) {
        auto* in = reinterpret_cast<sockaddr_in6*>(&address);
        inet_ntop(AF_INET6, &in->sin6_addr, text, sizeof text);
        *port = ntohs(in->sin6_port);
    } else {
        return false;
    }
    *ip = text;
    return true;
}

void SetSocketExclusivePort(SocketHandle socket) {
    // Without it a second program with SO_REUSEADDR could bind the same port and take its connections.
    BOOL one = TRUE;
    setsockopt(static_cast<SOCKET>(socket), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
               reinterpret_cast<const char*>(&one), sizeof one);
}

void SetSocketNoDelay(SocketHandle socket) {
    BOOL one = TRUE;
    setsockopt(static_cast<SOCKET>(socket), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one),
               sizeof one);
}

void ShutdownSocketWrite(SocketHandle socket) {
    shutdown(static_cast<SOCKET>(socket), SD_SEND);
}

void CloseSocket(SocketHandle socket) {
    shutdown(static_cast<SOCKET>(socket), SD_BOTH);
    closesocket(static_cast<SOCKET>(socket));
}

bool ParseIpAddress(const std::string& text, int* family, uint8_t bytes[16]) {
    if (inet_pton(AF_INET, text.c_str(), bytes) == 1) return *family = 4, true;
    if (inet_pton(AF_INET6, text.c_str(), bytes) == 1) return *family = 6, true;
    return false;
}

}  // namespace platform
