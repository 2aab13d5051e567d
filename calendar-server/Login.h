// Who may change the plan from the page: one password, kept as a memory-hard hash, and the sessions of the
// clients that gave it. Failed attempts are limited per client address.
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <map>
#include <mutex>
#include <string>

namespace calendar_server {

class Login {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr int kMostFailures = 5;  // a minute, per client address
    static constexpr size_t kMostSessions = 1000;

    // The hash to store for a password; false with a message when it cannot be made.
    static bool Hash(const std::string& password, std::string* hash, std::string* error);

    enum class Result { kIn, kWrong, kTooMany };
    // Checks a password against the stored hash (none: every password is wrong); kIn fills a new session.
    Result Try(const std::string& address, const std::string& password, const std::string& hash,
               std::string* session);
    bool Valid(const std::string& session);
    void End(const std::string& session);

    // The session named in a Cookie header, empty for none.
    static std::string SessionOfCookie(const std::string& cookie);
    // The Set-Cookie value of a session (empty: one that ends it).
    static std::string CookieOf(const std::string& session);

private:
    std::mutex mutex_;
    std::map<std::string, Clock::time_point> sessions_;           // session -> last use
    std::map<std::string, std::deque<Clock::time_point>> tries_;  // address -> attempts not known good
    std::mutex verifying_;  // one hash is worked out at a time: each takes tens of MiB
};

}  // namespace calendar_server
