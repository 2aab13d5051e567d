// The calendar server's HTTP listener: cpp-httplib's server, with bounds on what one client connection may
// hold, and the client networks that --allow-from names.
#pragma once

#include <httplib.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace calendar_server {

class HttpServer : public httplib::Server {
public:
    struct Limits {
        // From a request's first byte to its last: a client that trickles its request is cut off, so it
        // holds a serving thread no longer than this.
        int requestMs = 10000;
        // The bytes of one request, head and body: endless header lines end the connection.
        size_t requestBytes = 2u << 20;
        // From an answer's first byte to its last, for a client that reads slowly.
        int answerMs = 30000;
        // Connections served at once; more wait for a free thread.
        size_t threads = 64;
    };
    explicit HttpServer(const Limits& limits);
    HttpServer() : HttpServer(Limits()) {}

    // Called while handling a request that is refused before its body was read: the connection ends
    // after the answer, rather than taking that body for the next request.
    static void EndAfterAnswer();

private:
    // Serves one accepted connection: its requests in turn while it is kept alive, each within the limits.
    bool process_and_close_socket(socket_t sock) override;

    Limits limits_;
};

// A network as "ADDRESS/PREFIX" or a single "ADDRESS", IPv4 or IPv6.
struct Network {
    int family = 0;  // 4 (IPv4) or 6 (IPv6)
    uint8_t address[16] = {};
    int prefix = 0;
};
bool ParseNetwork(const std::string& text, Network* network);
// Whether a client address (as cpp-httplib reports it) lies in the network; an IPv4 client seen through an
// IPv6 socket ("::ffff:192.0.2.1") counts as its IPv4 address.
bool InNetwork(const Network& network, const std::string& address);
// 127.0.0.0/8 or ::1.
bool IsLoopbackAddress(const std::string& address);

}  // namespace calendar_server
