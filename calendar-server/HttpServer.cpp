#include "HttpServer.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/NetSocket.h"

namespace calendar_server {
namespace {

using Clock = std::chrono::steady_clock;

// Waits are cut into slices so that a stopping server ends its connections quickly.
constexpr int kSliceMs = 100;

// One connection as cpp-httplib's stream: reads through a buffer, and gives up once the request (or the
// answer) has taken longer than it may.
class Connection : public httplib::Stream {
public:
    Connection(socket_t sock, const HttpServer::Limits& limits, const std::atomic<socket_t>& listener)
        : sock_(sock), limits_(limits), listener_(listener) {}

    // Waits up to `idleMs` for the next request; true when one has begun.
    bool WaitRequest(int idleMs) {
        if (pos_ < len_) return Begin();
        const Clock::time_point end = Clock::now() + std::chrono::milliseconds(idleMs);
        if (!Wait(platform::SocketWait::kRead, end)) return false;
        return Begin();
    }

    bool is_readable() const override {
        return pos_ < len_ || Wait(platform::SocketWait::kRead, requestEnd_);
    }
    bool is_writable() const override { return Wait(platform::SocketWait::kWrite, AnswerEnd()); }

    ssize_t read(char* ptr, size_t size) override {
        if (pos_ == len_) {
            if (received_ >= limits_.requestBytes || !Wait(platform::SocketWait::kRead, requestEnd_))
                return -1;
            // A large read goes straight to the caller.
            if (size >= sizeof buffer_) return Receive(ptr, size);
            const ssize_t n = Receive(buffer_, sizeof buffer_);
            if (n <= 0) return n;
            pos_ = 0;
            len_ = static_cast<size_t>(n);
        }
        const size_t n = std::min(size, len_ - pos_);
        std::memcpy(ptr, buffer_ + pos_, n);
        pos_ += n;
        return static_cast<ssize_t>(n);
    }

    ssize_t write(const char* ptr, size_t size) override {
        if (!Wait(platform::SocketWait::kWrite, AnswerEnd())) return -1;
        return platform::SendSocket(Handle(), ptr, size);
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        platform::SocketAddress(Handle(), true, &ip, &port);
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override {
        platform::SocketAddress(Handle(), false, &ip, &port);
    }
    socket_t socket() const override { return sock_; }

    bool ending = false;

private:
    platform::SocketHandle Handle() const { return static_cast<platform::SocketHandle>(sock_); }

    bool Begin() {
        requestEnd_ = Clock::now() + std::chrono::milliseconds(limits_.requestMs);
        received_ = 0;
        answering_ = false;
        return true;
    }

    // The answer's time runs from its first byte.
    Clock::time_point AnswerEnd() const {
        if (!answering_) {
            answering_ = true;
            answerEnd_ = Clock::now() + std::chrono::milliseconds(limits_.answerMs);
        }
        return answerEnd_;
    }

    bool Wait(platform::SocketWait what, Clock::time_point end) const {
        for (;;) {
            if (listener_ == INVALID_SOCKET) return false;
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
            if (left <= 0) return false;
            const int ready =
                platform::WaitSocket(Handle(), what, static_cast<int>(std::min<long long>(left, kSliceMs)));
            if (ready > 0) return true;
            if (ready < 0) return false;
        }
    }

    ssize_t Receive(char* ptr, size_t size) {
        const long n =
            platform::ReceiveSocket(Handle(), ptr, std::min(size, limits_.requestBytes - received_));
        if (n > 0) received_ += static_cast<size_t>(n);
        return static_cast<ssize_t>(n);
    }

    socket_t sock_;
    const HttpServer::Limits& limits_;
    const std::atomic<socket_t>& listener_;
    char buffer_[4096];
    size_t pos_ = 0;
    size_t len_ = 0;
    size_t received_ = 0;  // bytes of the current request taken from the socket
    Clock::time_point requestEnd_;
    mutable Clock::time_point answerEnd_;
    mutable bool answering_ = false;
};

thread_local Connection* current = nullptr;

// The bytes of an address; IPv4 as 4 bytes, also when it comes mapped into IPv6 (::ffff:a.b.c.d).
bool AddressBytes(const std::string& text, int* family, uint8_t bytes[16]) {
    uint8_t parsed[16] = {};
    if (!platform::ParseIpAddress(text, family, parsed)) return false;
    static const uint8_t kMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    if (*family == 6 && std::memcmp(parsed, kMapped, sizeof kMapped) == 0) {
        std::memcpy(bytes, parsed + 12, 4);
        return *family = 4, true;
    }
    std::memcpy(bytes, parsed, *family == 4 ? 4 : 16);
    return true;
}

}  // namespace

// The threads that serve connections, and the connections waiting for one. The listener hands each
// accepted connection to it on the listener's own thread, where a connection that may not be served is
// closed at once: a refused or excess client never takes a thread, nor is any of its bytes read.
class HttpServer::Pool : public httplib::TaskQueue {
public:
    explicit Pool(HttpServer& server) : server_(server) {
        for (size_t i = 0; i < server_.limits_.threads; ++i) threads_.emplace_back([this] { Work(); });
    }

    // The listener's job for a connection ends in Admit (through process_and_close_socket).
    void enqueue(std::function<void()> job) override { job(); }

    void shutdown() override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        for (std::thread& t : threads_) t.join();
        for (const Waiting& w : waiting_) httplib::detail::close_socket(w.sock);
        waiting_.clear();
    }

    void Admit(socket_t sock) {
        std::string client;
        int port = 0;
        platform::SocketAddress(static_cast<platform::SocketHandle>(sock), true, &client, &port);
        const auto& networks = server_.clients_;
        const bool allowed =
            networks.empty() || std::any_of(networks.begin(), networks.end(),
                                            [&](const Network& n) { return InNetwork(n, client); });
        {
            std::lock_guard<std::mutex> lock(mutex_);
            size_t& held = held_[client];
            if (allowed && !stopping_ && held < server_.limits_.perClient &&
                waiting_.size() < server_.limits_.waiting) {
                ++held;
                waiting_.push_back({sock, client});
                wake_.notify_one();
                return;
            }
            if (held == 0) held_.erase(client);
        }
        httplib::detail::close_socket(sock);
    }

private:
    struct Waiting {
        socket_t sock;
        std::string client;
    };

    void Work() {
        for (;;) {
            Waiting next;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                wake_.wait(lock, [this] { return stopping_ || !waiting_.empty(); });
                if (stopping_) return;
                next = std::move(waiting_.front());
                waiting_.pop_front();
            }
            server_.Serve(next.sock);
            std::lock_guard<std::mutex> lock(mutex_);
            if (--held_[next.client] == 0) held_.erase(next.client);
        }
    }

    HttpServer& server_;
    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Waiting> waiting_;
    std::map<std::string, size_t> held_;  // connections per client address, served or waiting
    bool stopping_ = false;
};

HttpServer::HttpServer(const Limits& limits) : limits_(limits) {
    new_task_queue = [this] { return pool_ = new Pool(*this); };
    // A kept connection saves the client a connect per request; the plug-in asks a few things in a row.
    set_keep_alive_max_count(100);
    // A port another server listens on is refused, never shared: the library's default options let a
    // second server bind it too (and take some of its connections).
    set_socket_options(
        [](socket_t sock) { platform::SetSocketExclusivePort(static_cast<platform::SocketHandle>(sock)); });
}

bool HttpServer::process_and_close_socket(socket_t sock) {
    pool_->Admit(sock);
    return true;
}

bool HttpServer::Serve(socket_t sock) {
    // An answer goes out in pieces (head, then body): without this every answer on a kept connection
    // would wait for the client's delayed acknowledgement.
    const auto handle = static_cast<platform::SocketHandle>(sock);
    platform::SetSocketNoDelay(handle);
    Connection connection(sock, limits_, svr_sock_);
    current = &connection;
    bool ok = false;
    for (size_t left = keep_alive_max_count_; left > 0 && !connection.ending; --left) {
        if (!connection.WaitRequest(static_cast<int>(keep_alive_timeout_sec_ * 1000))) break;
        bool closed = false;
        ok = process_request(connection, left == 1, closed, nullptr);
        if (!ok || closed) break;
    }
    current = nullptr;
    if (connection.ending) {
        // Closing with the client's body still coming would reset the connection, and the client could
        // lose the answer: the rest is read and dropped for a moment first.
        platform::ShutdownSocketWrite(handle);
        const auto end = Clock::now() + std::chrono::seconds(1);
        char drop[4096];
        int ready = 0;
        while (Clock::now() < end &&
               (ready = platform::WaitSocket(handle, platform::SocketWait::kRead, kSliceMs)) >= 0) {
            if (ready > 0 && platform::ReceiveSocket(handle, drop, sizeof drop) <= 0) break;
        }
    }
    platform::CloseSocket(handle);
    return ok;
}

void HttpServer::EndAfterAnswer() {
    if (current) current->ending = true;
}

bool ParseNetwork(const std::string& text, Network* network) {
    const size_t slash = text.find('/');
    Network n;
    if (!AddressBytes(text.substr(0, slash), &n.family, n.address)) return false;
    // A mapped IPv4 address names that IPv4 network only when written as IPv4.
    if (n.family == 4 && text.find(':') != std::string::npos) return false;
    const int bits = n.family == 4 ? 32 : 128;
    n.prefix = bits;
    if (slash != std::string::npos) {
        const std::string prefix = text.substr(slash + 1);
        if (prefix.empty() || prefix.size() > 3 ||
            !std::all_of(prefix.begin(), prefix.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            return false;
        }
        n.prefix = std::stoi(prefix);
        if (n.prefix > bits) return false;
    }
    *network = n;
    return true;
}

bool InNetwork(const Network& network, const std::string& address) {
    int family = 0;
    uint8_t bytes[16] = {};
    if (!AddressBytes(address, &family, bytes) || family != network.family) return false;
    const int whole = network.prefix / 8;
    if (std::memcmp(bytes, network.address, static_cast<size_t>(whole)) != 0) return false;
    const int rest = network.prefix % 8;
    if (rest == 0) return true;
    const uint8_t mask = static_cast<uint8_t>(0xff << (8 - rest));
    return (bytes[whole] & mask) == (network.address[whole] & mask);
}

bool IsLoopbackAddress(const std::string& address) {
    Network v4;
    Network v6;
    return (ParseNetwork("127.0.0.0/8", &v4) && InNetwork(v4, address)) ||
           (ParseNetwork("::1", &v6) && InNetwork(v6, address));
}

}  // namespace calendar_server
