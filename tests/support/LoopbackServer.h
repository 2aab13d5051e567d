// An HTTP server on a loopback port chosen at run time, serving from its own thread until destroyed.
#pragma once

#include <httplib.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

class LoopbackServer {
public:
    LoopbackServer() = default;
    ~LoopbackServer() { Stop(); }
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    // Binds to 127.0.0.1 on a free port and serves; returns the port (0 when binding failed).
    int Start() {
        // One request per connection: a connection that the client's platform keeps for reuse would
        // otherwise hold Stop for the whole keep-alive time.
        server.set_keep_alive_max_count(1);
        port_ = server.bind_to_any_port("127.0.0.1");
        if (port_ <= 0) return port_ = 0;
        thread_ = std::thread([this] { server.listen_after_bind(); });
        // stop() only works once the accept loop runs.
        for (int i = 0; i < 5000 && !server.is_running(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return port_;
    }
    void Stop() {
        if (thread_.joinable()) {
            server.stop();
            thread_.join();
        }
    }
    int port() const { return port_; }

    httplib::Server server;

private:
    int port_ = 0;
    std::thread thread_;
};

// Sets (or with null clears) an environment variable for the life of a scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        const char* old = std::getenv(name);
        hadOld_ = old != nullptr;
        if (old) old_ = old;
        Put(name, value);
    }
    ~ScopedEnv() { Put(name_.c_str(), hadOld_ ? old_.c_str() : nullptr); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    static void Put(const char* name, const char* value) {
#ifdef _WIN32
        // An empty value removes the variable, from the process's environment as well.
        _putenv_s(name, value ? value : "");
#else
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
#endif
    }

    std::string name_;
    std::string old_;
    bool hadOld_ = false;
};
