// The socket calls of the calendar server's connections, on a socket its HTTP library accepted, and the
// reading of IP address texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// A connected socket as the platform numbers it.
using SocketHandle = std::intptr_t;

enum class SocketWait { kRead, kWrite };
// Waits up to timeoutMs for the socket to become readable (or closed) or writable: 1 when it is, 0 when
// the time ran out or the wait was interrupted, -1 when the socket failed.
int WaitSocket(SocketHandle socket, SocketWait what, int timeoutMs);
// One send or receive as the system does it (a peer gone never ends the process): the bytes moved, 0
// for a receive at the end of the stream, -1 for a failure.
long SendSocket(SocketHandle socket, const char* data, size_t size);
long ReceiveSocket(SocketHandle socket, char* data, size_t size);
// The address and port of the peer, or of this end; false when the socket has none.
bool SocketAddress(SocketHandle socket, bool peer, std::string* ip, int* port);
// Before a listening socket binds: a port another socket listens on is refused, never shared (a port that
// a closed connection still holds may be taken again).
void SetSocketExclusivePort(SocketHandle socket);
// Sends small writes at once instead of waiting for the peer's acknowledgement.
void SetSocketNoDelay(SocketHandle socket);
// No more sends: the peer reads the end of the stream; receiving goes on.
void ShutdownSocketWrite(SocketHandle socket);
void CloseSocket(SocketHandle socket);

// An IPv4 address (family 4, the first 4 bytes) or an IPv6 address (family 6, 16 bytes) as text.
bool ParseIpAddress(const std::string& text, int* family, uint8_t bytes[16]);

}  // namespace platform
