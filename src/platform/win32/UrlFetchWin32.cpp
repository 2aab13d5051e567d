// URL sources through the platform's HTTP backend (WinHTTP follows redirects itself, never from https to
// http). A watcher ends the request in progress when the transfer's time is up or a stop is asked for.
#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/HttpBackend.h"
#include "platform/UrlFetch.h"
#include "platform/win32/Win32Text.h"

namespace platform {
namespace {

std::wstring Wide(const std::string& text) {
    return Utf8ToWide(text);
}

struct Url {
    bool secure = false;
    std::string host;
    uint16_t port = 0;  // 0: the scheme's own
    std::string path;
};

bool ParseUrl(const std::string& text, Url* url) {
    size_t rest = 0;
    if (text.compare(0, 7, "http://") == 0) {
        rest = 7;
    } else if (text.compare(0, 8, "https://") == 0) {
        url->secure = true;
        rest = 8;
    } else {
        return false;
    }
    const size_t slash = text.find_first_of("/?#", rest);
    std::string authority = text.substr(rest, slash == std::string::npos ? std::string::npos : slash - rest);
    const size_t at = authority.rfind('@');
    if (at != std::string::npos) authority.erase(0, at + 1);
    std::string port;
    if (!authority.empty() && authority[0] == '[') {
        const size_t close = authority.find(']');
        if (close == std::string::npos) return false;
        url->host = authority.substr(1, close - 1);
        if (close + 1 < authority.size()) {
            if (authority[close + 1] != ':') return false;
            port = authority.substr(close + 2);
        }
    } else {
        const size_t colon = authority.find(':');
        url->host = authority.substr(0, colon);
        if (colon != std::string::npos) port = authority.substr(colon + 1);
    }
    if (url->host.empty() || port.size() > 5) return false;
    unsigned long number = 0;
    for (char c : port) {
        if (c < '0' || c > '9') return false;
        number = number * 10 + static_cast<unsigned long>(c - '0');
    }
    if (number > 65535) return false;
    url->port = static_cast<uint16_t>(number);
    url->path = slash == std::string::npos ? "/" : text.substr(slash);
    const size_t hash = url->path.find('#');
    if (hash != std::string::npos) url->path.erase(hash);
    if (url->path.empty() || url->path[0] != '/') url->path.insert(0, "/");
    return true;
}

std::string Describe(uint32_t code) {
    switch (code) {
        case kErrorHttpTimeout:
            return "the transfer timed out";
        case kErrorHttpNameNotResolved:
            return "cannot resolve the host name";
        case kErrorHttpCannotConnect:
            return "cannot connect to the server";
        case kErrorHttpConnectionError:
            return "the connection failed";
        case kErrorHttpSecureFailure:
            return "the secure connection failed";
        case kErrorHttpInvalidServerResponse:
            return "the server's answer is not HTTP";
        default:
            return "the transfer failed (error " + std::to_string(code) + ")";
    }
}

}  // namespace

FetchResult FetchUrl(const std::string& text, size_t maxBytes, int timeoutMs, const std::atomic<bool>* stop,
                     std::string* body, std::string* error) {
    Url url;
    if (!ParseUrl(text, &url)) return *error = "not an http:// or https:// URL", FetchResult::kFailed;
    IHttpBackend& http = SystemHttpBackend();
    HttpHandle session = http.Open(L"calendar-server");
    HttpHandle connection = session ? http.Connect(session, Wide(url.host), url.port) : nullptr;
    HttpHandle request =
        connection ? http.OpenRequest(connection, L"GET", Wide(url.path), url.secure ? kHttpFlagSecure : 0u)
                   : nullptr;
    if (!request) {
        *error = Describe(http.LastError());
        if (connection) http.CloseHandle(connection);
        if (session) http.CloseHandle(session);
        return FetchResult::kFailed;
    }

    // The watcher cancels the request when the time is up or a stop comes; never after it is closed.
    std::mutex lock;
    std::condition_variable wake;
    bool done = false;
    bool timedOut = false;
    std::thread watcher([&] {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        std::unique_lock<std::mutex> held(lock);
        while (!done) {
            if (stop->load() || std::chrono::steady_clock::now() >= end) {
                timedOut = !stop->load();
                http.CancelRequest(request);
                return;
            }
            wake.wait_for(held, std::chrono::milliseconds(50));
        }
    });

    FetchResult result = FetchResult::kFailed;
    uint32_t status = 0;
    if (!http.SendRequest(request, L"", nullptr, 0, 0) || !http.ReceiveResponse(request) ||
        !http.QueryStatusCode(request, &status)) {
        *error = Describe(http.LastError());
    } else if (status >= 400) {
        *error = "the server answered " + std::to_string(status);
    } else {
        result = FetchResult::kOk;
        for (;;) {
            uint32_t available = 0;
            if (!http.QueryDataAvailable(request, &available)) {
                *error = Describe(http.LastError());
                result = FetchResult::kFailed;
                break;
            }
            if (available == 0) break;
            if (body->size() + available > maxBytes) {
                result = FetchResult::kTooLarge;
                break;
            }
            const size_t at = body->size();
            body->resize(at + available);
            uint32_t read = 0;
            if (!http.ReadData(request, &(*body)[at], available, &read)) {
                body->resize(at);
                *error = Describe(http.LastError());
                result = FetchResult::kFailed;
                break;
            }
            body->resize(at + read);
        }
    }
    {
        std::lock_guard<std::mutex> held(lock);
        done = true;
    }
    wake.notify_all();
    watcher.join();
    if (result == FetchResult::kFailed && timedOut) *error = "the transfer timed out";
    if (result == FetchResult::kFailed && stop->load()) *error = "stopped";
    http.CloseHandle(request);
    http.CloseHandle(connection);
    http.CloseHandle(session);
    return result;
}

}  // namespace platform
