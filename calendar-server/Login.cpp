#include "Login.h"

#include <sodium.h>

#include <algorithm>
#include <mutex>

namespace calendar_server {
namespace {

constexpr auto kWindow = std::chrono::minutes(1);
constexpr auto kSessionIdle = std::chrono::hours(12);
const char kCookieName[] = "calendar_session";

bool Ready() {
    static const bool ready = sodium_init() >= 0;
    return ready;
}

}  // namespace

bool Login::Hash(const std::string& password, std::string* hash, std::string* error) {
    if (!Ready()) return *error = "the password library cannot start", false;
    char text[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(text, password.data(), password.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                          crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0) {
        return *error = "not enough memory to hash the password", false;
    }
    *hash = text;
    return true;
}

Login::Result Login::Try(const std::string& address, const std::string& password, const std::string& hash,
                         std::string* session) {
    const Clock::time_point now = Clock::now();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        // Forgets what is older than the window (everyone's, now and then, so the map stays small).
        auto prune = [&](std::deque<Clock::time_point>& tries) {
            while (!tries.empty() && now - tries.front() > kWindow) tries.pop_front();
        };
        if (tries_.size() > 10000) {
            for (auto it = tries_.begin(); it != tries_.end();) {
                prune(it->second);
                it = it->second.empty() ? tries_.erase(it) : std::next(it);
            }
        }
        auto& tries = tries_[address];
        prune(tries);
        if (tries.size() >= static_cast<size_t>(kMostFailures)) return Result::kTooMany;
        // Counted before it is checked, so that attempts sent at once count too.
        tries.push_back(now);
    }
    bool good = false;
    if (!hash.empty() && Ready() && hash.size() < crypto_pwhash_STRBYTES) {
        char stored[crypto_pwhash_STRBYTES] = {};
        std::copy(hash.begin(), hash.end(), stored);
        std::lock_guard<std::mutex> one(verifying_);
        good = crypto_pwhash_str_verify(stored, password.data(), password.size()) == 0;
    }
    if (!good) return Result::kWrong;
    unsigned char bytes[32];
    randombytes_buf(bytes, sizeof bytes);
    static const char digits[] = "0123456789abcdef";
    session->clear();
    for (unsigned char b : bytes) {
        session->push_back(digits[b >> 4]);
        session->push_back(digits[b & 15]);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    auto& tries = tries_[address];
    auto mine = std::find(tries.begin(), tries.end(), now);
    if (mine != tries.end()) tries.erase(mine);
    if (sessions_.size() >= kMostSessions) {
        auto oldest = std::min_element(sessions_.begin(), sessions_.end(),
                                       [](const auto& x, const auto& y) { return x.second < y.second; });
        sessions_.erase(oldest);
    }
    sessions_[*session] = Clock::now();
    return Result::kIn;
}

bool Login::Valid(const std::string& session) {
    if (session.empty()) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = sessions_.find(session);
    if (found == sessions_.end()) return false;
    const Clock::time_point now = Clock::now();
    if (now - found->second > kSessionIdle) {
        sessions_.erase(found);
        return false;
    }
    found->second = now;
    return true;
}

void Login::End(const std::string& session) {
    std::lock_guard<std::mutex> lock(mutex_);
    sessions_.erase(session);
}

std::string Login::SessionOfCookie(const std::string& cookie) {
    const std::string name = std::string(kCookieName) + "=";
    size_t at = 0;
    while (at < cookie.size()) {
        while (at < cookie.size() && (cookie[at] == ' ' || cookie[at] == ';')) ++at;
        const size_t end = std::min(cookie.find(';', at), cookie.size());
        if (cookie.compare(at, name.size(), name) == 0)
            return cookie.substr(at + name.size(), end - at - name.size());
        at = end;
    }
    return std::string();
}

std::string Login::CookieOf(const std::string& session) {
    return std::string(kCookieName) + "=" + session + "; Path=/; HttpOnly; SameSite=Strict" +
           (session.empty() ? "; Max-Age=0" : "");
}

}  // namespace calendar_server
