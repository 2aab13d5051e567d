#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/NetSocket.h"

namespace platform {

int WaitSocket(SocketHandle socket, SocketWait what, int timeoutMs) {
    pollfd p{static_cast<int>(socket), static_cast<short>(what == SocketWait::kRead ? POLLIN : POLLOUT), 0};
    const int ready = poll(&p, 1, timeoutMs);
    if (ready > 0) return 1;
    return ready < 0 && errno != EINTR ? -1 : 0;
}

long SendSocket(SocketHandle socket, const char* data, size_t size) {
    ssize_t n;
    do {
        n = ::send(static_cast<int>(socket), data, size, MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    return static_cast<long>(n);
}

long ReceiveSocket(SocketHandle socket, char* data, size_t size) {
    ssize_t n;
    do {
        n = ::recv(static_cast<int>(socket), data, size, 0);
    } while (n < 0 && errno == EINTR);
    return static_cast<long>(n);
}

bool SocketAddress(SocketHandle socket, bool peer, std::string* ip, int* port) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    auto* a = reinterpret_cast<sockaddr*>(&address);
    if ((peer ? getpeername : getsockname)(static_cast<int>(socket), a, &length) != 0) return false;
    char text[INET6_ADDRSTRLEN] = "";
    if (address.ss_family == AF_INET) {
        const auto* in = reinterpret_cast<const sockaddr_in*>(&address);
        inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
        *port = ntohs(in->sin_port);
    } else if (address.ss_family == AF_INET6) {
        const auto* in = reinterpret_cast<const sockaddr_in6*>(&address);
        inet_ntop(AF_INET6, &in->sin6_addr, text, sizeof text);
        *port = ntohs(in->sin6_port);
    } else {
        return false;
    }
    *ip = text;
    return true;
}

void SetSocketExclusivePort(SocketHandle socket) {
    // SO_REUSEADDR alone: a listening port stays its listener's (SO_REUSEPORT would share it).
    int one = 1;
    setsockopt(static_cast<int>(socket), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
}

void SetSocketNoDelay(SocketHandle socket) {
    int one = 1;
    setsockopt(static_cast<int>(socket), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

void ShutdownSocketWrite(SocketHandle socket) {
    shutdown(static_cast<int>(socket), SHUT_WR);
}

void CloseSocket(SocketHandle socket) {
    shutdown(static_cast<int>(socket), SHUT_RDWR);
    close(static_cast<int>(socket));
}

bool ParseIpAddress(const std::string& text, int* family, uint8_t bytes[16]) {
    if (inet_pton(AF_INET, text.c_str(), bytes) == 1) return *family = 4, true;
    if (inet_pton(AF_INET6, text.c_str(), bytes) == 1) return *family = 6, true;
    return false;
}

}  // namespace platform
