// The HTTP backend on Windows: WinHTTP. Every call blocks its caller until its step is done, but the
// steps that wait on the network run in the platform's asynchronous mode underneath: closing a request
// handle does not end a blocked synchronous call under every WinHTTP, while a wait of our own ends at
// once when the request is cancelled from another thread.
#include <windows.h>
#include <winhttp.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "platform/HttpBackend.h"
#include "platform/ModuleLifetime.h"
#include "platform/win32/Win32Text.h"

namespace platform {
namespace {

thread_local uint32_t t_lastError = 0;

bool Fail(uint32_t code) {
    t_lastError = code;
    return false;
}

// Some WinHTTP versions report a response that never came as the socket's own time-out (WSAETIMEDOUT).
constexpr DWORD kSocketTimedOut = 10060;

uint32_t Translate(DWORD error) {
    return error == kSocketTimedOut ? kErrorHttpTimeout : error;
}

bool FailWithLastError() {
    return Fail(Translate(GetLastError()));
}

std::wstring Widen(const std::string& text) {
    return Utf8ToWide(text);
}

std::wstring Environment(const wchar_t* name) {
    const DWORD n = GetEnvironmentVariableW(name, nullptr, 0);
    if (n == 0) return std::wstring();
    std::wstring value(n, L'\0');
    const DWORD got = GetEnvironmentVariableW(name, &value[0], n);
    value.resize(got < n ? got : 0);
    return value;
}

// "http://host:port/" as the environment writes a proxy, "host:port" as WinHTTP takes it.
std::wstring ProxyName(std::wstring url) {
    const size_t scheme = url.find(L"://");
    if (scheme != std::wstring::npos) url.erase(0, scheme + 3);
    const size_t slash = url.find(L'/');
    if (slash != std::wstring::npos) url.erase(slash);
    return url;
}

// A bypass list with ',' or ';' between names, as WinHTTP takes it: ';' and no blanks.
std::wstring BypassList(const std::wstring& names) {
    std::wstring out;
    for (wchar_t c : names) {
        if (c == L' ' || c == L'\t') continue;
        out += c == L',' ? L';' : c;
    }
    return out;
}

// A request's notifications run this library's code on WinHTTP's own threads until HANDLE_CLOSING has
// returned, which may come well after CloseHandle (a cancelled step still completing) and after the
// host's last Release: so that a host's unload never unmaps code in use, the library keeps itself loaded
// from its first request on. A program that never makes a request keeps the ordinary unloading.
void KeepLoadedForRequests() {
    static std::once_flag once;
    std::call_once(once, PinOwnLibrary);
}

enum class Kind { kSession, kConnection, kRequest };

struct Handle {
    Handle(Kind k, HINTERNET h) : kind(k), internet(h) {}
    virtual ~Handle() = default;
    const Kind kind;
    HINTERNET internet;
};

struct Session : Handle {
    Session(HINTERNET h, bool discover) : Handle(Kind::kSession, h), discoverProxy(discover) {}
    // The platform cannot find the proxy by itself (before Windows 8.1): the backend finds it.
    const bool discoverProxy;
};

struct Connection : Handle {
    Connection(HINTERNET h, const Session& s, std::wstring hostName, uint16_t portNumber)
        : Handle(Kind::kConnection, h),
          discoverProxy(s.discoverProxy),
          host(std::move(hostName)),
          port(portNumber) {}
    const bool discoverProxy;
    const std::wstring host;
    const uint16_t port;
};

// One request and the step that the platform is working on. The buffers a step works with are the
// request's own, not the caller's: a cancelled step may still complete into them after its caller left.
struct Request : Handle {
    Request(HINTERNET h, bool headRequest) : Handle(Kind::kRequest, h), head(headRequest) {}
    const bool head;

    std::mutex mutex;
    std::condition_variable changed;
    bool cancelled = false;
    bool pending = false;  // a step is in the platform's hands
    bool succeeded = false;
    DWORD error = 0;
    DWORD count = 0;  // bytes available or read

    std::wstring headers;
    std::vector<char> entity;
    std::vector<char> received;

    // The body's announced length (-1: none) and how much of it was read.
    long long expected = -1;
    long long bodyRead = 0;
};

// The length a response's body must have, or -1 when the connection's end marks it (or it has none).
long long ExpectedLength(Request& r) {
    DWORD status = 0;
    DWORD size = sizeof status;
    if (r.head ||
        !WinHttpQueryHeaders(r.internet, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX) ||
        status < 200 || status == 204 || status == 304) {
        return -1;
    }
    // A transfer coding ends the body by itself, whatever length is announced.
    size = 0;
    if (!WinHttpQueryHeaders(r.internet, WINHTTP_QUERY_TRANSFER_ENCODING, WINHTTP_HEADER_NAME_BY_INDEX,
                             WINHTTP_NO_OUTPUT_BUFFER, &size, WINHTTP_NO_HEADER_INDEX) &&
        GetLastError() != ERROR_WINHTTP_HEADER_NOT_FOUND) {
        return -1;
    }
    wchar_t text[32];
    size = sizeof text;
    if (!WinHttpQueryHeaders(r.internet, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX, text,
                             &size, WINHTTP_NO_HEADER_INDEX)) {
        return -1;
    }
    long long length = 0;
    const size_t chars = size / sizeof(wchar_t);
    if (chars == 0 || chars > 18) return -1;
    for (size_t i = 0; i < chars; ++i) {
        if (text[i] < L'0' || text[i] > L'9') return -1;
        length = length * 10 + (text[i] - L'0');
    }
    return length;
}

void CALLBACK OnStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD infoLength) {
    Request* r = reinterpret_cast<Request*>(context);
    if (!r) return;
    if (status == WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING) {
        // The platform's last word on the request: no step of it writes into its buffers any more, and
        // its owner closed it and no longer touches it.
        delete r;
        return;
    }
    bool succeeded = true;
    DWORD error = 0;
    DWORD count = 0;
    switch (status) {
        case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
        case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
            break;
        case WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE:
            count = info ? *static_cast<const DWORD*>(info) : 0;
            break;
        case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
            count = infoLength;
            break;
        case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR:
            succeeded = false;
            error =
                info ? static_cast<const WINHTTP_ASYNC_RESULT*>(info)->dwError : ERROR_WINHTTP_INTERNAL_ERROR;
            break;
        default:
            return;
    }
    std::lock_guard<std::mutex> lock(r->mutex);
    r->pending = false;
    r->succeeded = succeeded;
    r->error = error;
    r->count = count;
    // Notified under the lock: once CloseHandle holds it, this notification no longer touches the request.
    r->changed.notify_all();
}

// The proxy that the user's settings give for an address, as it is set on a request.
struct ProxyChoice {
    bool named = false;  // false: the machine's default proxy configuration applies
    std::wstring proxy;
    std::wstring bypass;
};

// Before Windows 8.1 WinHTTP does not find the proxy by itself. The user's settings say whether to
// discover it on the network, which configuration script to run, or which proxy to name. Discovery may
// take long and cannot be cancelled, so it runs before the request exists.
ProxyChoice FindUserProxy(const std::wstring& url) {
    ProxyChoice choice;
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG user = {};
    if (!WinHttpGetIEProxyConfigForCurrentUser(&user)) return choice;
    bool discovered = false;
    if (user.fAutoDetect || user.lpszAutoConfigUrl) {
        WINHTTP_AUTOPROXY_OPTIONS options = {};
        if (user.lpszAutoConfigUrl) {
            options.dwFlags |= WINHTTP_AUTOPROXY_CONFIG_URL;
            options.lpszAutoConfigUrl = user.lpszAutoConfigUrl;
        }
        if (user.fAutoDetect) {
            options.dwFlags |= WINHTTP_AUTOPROXY_AUTO_DETECT;
            options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
        }
        options.fAutoLogonIfChallenged = TRUE;
        // The discovery needs a synchronous session of its own.
        HINTERNET probe =
            WinHttpOpen(L"", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
        WINHTTP_PROXY_INFO found = {};
        if (probe) {
            discovered = WinHttpGetProxyForUrl(probe, url.c_str(), &options, &found) != FALSE;
            WinHttpCloseHandle(probe);
        }
        if (discovered) {
            choice.named = found.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && found.lpszProxy;
            if (found.lpszProxy) choice.proxy = found.lpszProxy;
            if (found.lpszProxyBypass) choice.bypass = found.lpszProxyBypass;
            // A script's "DIRECT" is a choice too: no proxy, not the machine's default.
            if (!choice.named) choice = ProxyChoice{true, std::wstring(), std::wstring()};
        }
        if (found.lpszProxy) GlobalFree(found.lpszProxy);
        if (found.lpszProxyBypass) GlobalFree(found.lpszProxyBypass);
    }
    if (!discovered && user.lpszProxy) {
        choice.named = true;
        choice.proxy = user.lpszProxy;
        if (user.lpszProxyBypass) choice.bypass = user.lpszProxyBypass;
    }
    if (user.lpszAutoConfigUrl) GlobalFree(user.lpszAutoConfigUrl);
    if (user.lpszProxy) GlobalFree(user.lpszProxy);
    if (user.lpszProxyBypass) GlobalFree(user.lpszProxyBypass);
    return choice;
}

void ApplyProxy(HINTERNET request, const ProxyChoice& choice) {
    if (!choice.named) return;
    WINHTTP_PROXY_INFO info = {};
    if (choice.proxy.empty()) {
        info.dwAccessType = WINHTTP_ACCESS_TYPE_NO_PROXY;
    } else {
        info.dwAccessType = WINHTTP_ACCESS_TYPE_NAMED_PROXY;
        info.lpszProxy = const_cast<LPWSTR>(choice.proxy.c_str());
        info.lpszProxyBypass = choice.bypass.empty() ? nullptr : const_cast<LPWSTR>(choice.bypass.c_str());
    }
    WinHttpSetOption(request, WINHTTP_OPTION_PROXY, &info, sizeof info);
}

// Each session opens one connection to one server, and the exchanges of a device reach the same server
// again and again: what was found for a server is kept for a while, so that a discovery (which nothing
// can cancel) holds at most the first exchange in a while, not every request that a Stop waits for.
class ProxyMemory {
public:
    ProxyChoice For(const std::wstring& origin) {
        const auto now = std::chrono::steady_clock::now();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            auto it = kept_.find(origin);
            if (it != kept_.end() && now - it->second.when < kKeep) return it->second.choice;
        }
        Entry entry{FindUserProxy(origin + L"/"), now};
        std::lock_guard<std::mutex> lock(mutex_);
        // Addresses change rarely; a device pointed at many in turn does not grow the memory without end.
        if (kept_.size() >= kMaxKept) kept_.clear();
        kept_[origin] = entry;
        return entry.choice;
    }

private:
    static constexpr std::chrono::minutes kKeep{10};
    static constexpr size_t kMaxKept = 64;
    struct Entry {
        ProxyChoice choice;
        std::chrono::steady_clock::time_point when;
    };
    std::mutex mutex_;
    std::map<std::wstring, Entry> kept_;
};

class WinHttpBackend final : public IHttpBackend {
public:
    HttpHandle Open(const std::wstring& agent) override {
        HINTERNET h = nullptr;
        bool discoverProxy = false;
        HttpProxySetting given;
        if (CurrentHttpProxyForTesting(&given)) {
            std::wstring proxy = Widen(given.proxy);
            std::wstring bypass = Widen(given.bypass);
            if (given.fromEnvironment) {
                proxy = Environment(L"http_proxy");
                bypass = Environment(L"no_proxy");
            }
            proxy = ProxyName(proxy);
            bypass = BypassList(bypass);
            if (proxy.empty()) {
                h = WinHttpOpen(agent.c_str(), WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC);
            } else {
                h = WinHttpOpen(agent.c_str(), WINHTTP_ACCESS_TYPE_NAMED_PROXY, proxy.c_str(),
                                bypass.empty() ? WINHTTP_NO_PROXY_BYPASS : bypass.c_str(),
                                WINHTTP_FLAG_ASYNC);
            }
        } else {
            h = WinHttpOpen(agent.c_str(), WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                            WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC);
            if (!h && GetLastError() == ERROR_INVALID_PARAMETER) {
                discoverProxy = true;
                h = WinHttpOpen(agent.c_str(), WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC);
            }
        }
        if (!h) return FailWithLastError(), nullptr;
        // The limits are set explicitly, so that tests can shorten them; resolving keeps the default.
        const HttpTimeouts t = CurrentHttpTimeouts();
        if (!WinHttpSetTimeouts(h, 0, static_cast<int>(t.connectMs), static_cast<int>(t.sendMs),
                                static_cast<int>(t.receiveMs))) {
            const DWORD error = GetLastError();
            WinHttpCloseHandle(h);
            return Fail(Translate(error)), nullptr;
        }
        Session* s = new (std::nothrow) Session(h, discoverProxy);
        if (!s) {
            WinHttpCloseHandle(h);
            return Fail(kErrorNotEnoughMemory), nullptr;
        }
        return static_cast<Handle*>(s);
    }

    HttpHandle Connect(HttpHandle session, const std::wstring& host, uint16_t port) override {
        Session* s = As<Session>(session, Kind::kSession);
        if (!s) return nullptr;
        if (host.empty()) return Fail(kErrorInvalidParameter), nullptr;
        HINTERNET h = WinHttpConnect(s->internet, host.c_str(), port, 0);
        if (!h) return FailWithLastError(), nullptr;
        Connection* c = new (std::nothrow) Connection(h, *s, host, port);
        if (!c) {
            WinHttpCloseHandle(h);
            return Fail(kErrorNotEnoughMemory), nullptr;
        }
        return static_cast<Handle*>(c);
    }

    HttpHandle OpenRequest(HttpHandle connection, const std::wstring& method, const std::wstring& path,
                           uint32_t flags) override {
        Connection* c = As<Connection>(connection, Kind::kConnection);
        if (!c) return nullptr;
        ProxyChoice proxy;
        if (c->discoverProxy) {
            std::wstring origin = (flags & kHttpFlagSecure) != 0 ? L"https://" : L"http://";
            origin += c->host.find(L':') != std::wstring::npos ? L"[" + c->host + L"]" : c->host;
            if (c->port != 0) origin += L":" + std::to_wstring(c->port);
            proxy = proxies_.For(origin);
        }
        HINTERNET h = WinHttpOpenRequest(c->internet, method.c_str(), path.c_str(), nullptr,
                                         WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, flags);
        if (!h) return FailWithLastError(), nullptr;
        Request* r = new (std::nothrow) Request(h, method == L"HEAD");
        if (!r) {
            WinHttpCloseHandle(h);
            return Fail(kErrorNotEnoughMemory), nullptr;
        }
        DWORD_PTR context = reinterpret_cast<DWORD_PTR>(r);
        KeepLoadedForRequests();
        // HANDLE_CLOSING ends the request's life; until the callback is in place, closing frees it here.
        if (!WinHttpSetOption(h, WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof context) ||
            WinHttpSetStatusCallback(h, &OnStatus,
                                     WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_FLAG_HANDLES,
                                     0) == WINHTTP_INVALID_STATUS_CALLBACK) {
            const DWORD error = GetLastError();
            WinHttpCloseHandle(h);
            delete r;
            return Fail(Translate(error)), nullptr;
        }
        // The wait for the response's headers has a limit of its own; without it some WinHTTP versions
        // wait for a silent server without end.
        DWORD responseMs = CurrentHttpTimeouts().receiveMs;
        WinHttpSetOption(h, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &responseMs, sizeof responseMs);
        ApplyProxy(h, proxy);
        return static_cast<Handle*>(r);
    }

    bool SetCredentials(HttpHandle request, uint32_t target, uint32_t scheme, const std::wstring& user,
                        const std::wstring& password) override {
        Request* r = Usable(request);
        if (!r) return false;
        if (!WinHttpSetCredentials(r->internet, target, scheme, user.c_str(), password.c_str(), nullptr)) {
            return FailWithLastError();
        }
        return true;
    }

    bool SendRequest(HttpHandle request, const std::wstring& headers, const void* optional,
                     uint32_t optionalLength, uint32_t totalLength) override {
        Request* r = Usable(request);
        if (!r) return false;
        if (optionalLength > totalLength || (optionalLength && !optional))
            return Fail(kErrorInvalidParameter);
        // The entity goes out whole with the request; writing the rest later is not offered.
        if (optionalLength != totalLength) return Fail(kErrorInvalidParameter);
        if (!Idle(r)) return false;
        try {
            r->headers = headers;
            const char* bytes = static_cast<const char*>(optional);
            r->entity.assign(bytes, bytes + optionalLength);
        } catch (const std::bad_alloc&) {
            return Fail(kErrorNotEnoughMemory);
        }
        return Step(r, nullptr, [r] {
            return WinHttpSendRequest(r->internet,
                                      r->headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : r->headers.c_str(),
                                      static_cast<DWORD>(r->headers.size()),
                                      r->entity.empty() ? WINHTTP_NO_REQUEST_DATA : r->entity.data(),
                                      static_cast<DWORD>(r->entity.size()),
                                      static_cast<DWORD>(r->entity.size()), reinterpret_cast<DWORD_PTR>(r));
        });
    }

    bool ReceiveResponse(HttpHandle request) override {
        Request* r = Usable(request);
        if (!r) return false;
        if (!Step(r, nullptr, [r] { return WinHttpReceiveResponse(r->internet, nullptr); })) return false;
        r->expected = ExpectedLength(*r);
        r->bodyRead = 0;
        return true;
    }

    bool QueryStatusCode(HttpHandle request, uint32_t* status) override {
        Request* r = Usable(request);
        if (!r) return false;
        if (!status) return Fail(kErrorInvalidParameter);
        DWORD value = 0;
        DWORD size = sizeof value;
        if (!WinHttpQueryHeaders(r->internet, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                 WINHTTP_HEADER_NAME_BY_INDEX, &value, &size, WINHTTP_NO_HEADER_INDEX)) {
            return FailWithLastError();
        }
        *status = value;
        return true;
    }

    bool QueryRawHeaders(HttpHandle request, wchar_t* buffer, uint32_t* bufferBytes) override {
        Request* r = Usable(request);
        if (!r) return false;
        if (!bufferBytes) return Fail(kErrorInvalidParameter);
        DWORD size = buffer ? *bufferBytes : 0;
        const BOOL ok =
            WinHttpQueryHeaders(r->internet, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX,
                                buffer ? buffer : WINHTTP_NO_OUTPUT_BUFFER, &size, WINHTTP_NO_HEADER_INDEX);
        const DWORD error = ok ? 0 : GetLastError();
        *bufferBytes = size;
        return ok ? true : Fail(Translate(error));
    }

    bool QueryAuthSchemes(HttpHandle request, uint32_t* supported, uint32_t* first,
                          uint32_t* target) override {
        Request* r = Usable(request);
        if (!r) return false;
        if (!supported || !first || !target) return Fail(kErrorInvalidParameter);
        DWORD s = 0, f = 0, t = 0;
        if (!WinHttpQueryAuthSchemes(r->internet, &s, &f, &t)) return FailWithLastError();
        *supported = s;
        *first = f;
        *target = t;
        return true;
    }

    bool QueryDataAvailable(HttpHandle request, uint32_t* available) override {
        Request* r = Usable(request);
        if (!r) return false;
        if (!available) return Fail(kErrorInvalidParameter);
        DWORD count = 0;
        if (!Step(r, &count, [r] { return WinHttpQueryDataAvailable(r->internet, nullptr); })) return false;
        *available = count;
        // Some WinHTTP versions report a connection closed early as the body's end.
        if (count == 0 && r->bodyRead < r->expected) return Fail(kErrorHttpConnectionError);
        return true;
    }

    bool ReadData(HttpHandle request, void* buffer, uint32_t toRead, uint32_t* read) override {
        Request* r = Usable(request);
        if (!r) return false;
        if (!read || (toRead && !buffer)) return Fail(kErrorInvalidParameter);
        if (!Idle(r)) return false;
        try {
            r->received.resize(toRead ? toRead : 1);
        } catch (const std::bad_alloc&) {
            return Fail(kErrorNotEnoughMemory);
        }
        DWORD count = 0;
        if (!Step(r, &count, [r, toRead] {
                return WinHttpReadData(r->internet, r->received.data(), toRead, nullptr);
            })) {
            return false;
        }
        if (count > toRead) count = toRead;
        if (count) std::memcpy(buffer, r->received.data(), count);
        *read = count;
        r->bodyRead += count;
        return true;
    }

    bool CloseHandle(HttpHandle handle) override {
        if (!handle) return Fail(kErrorInvalidParameter);
        Handle* h = static_cast<Handle*>(handle);
        if (h->kind != Kind::kRequest) {
            const BOOL ok = WinHttpCloseHandle(h->internet);
            const DWORD error = ok ? 0 : GetLastError();
            delete h;
            return ok ? true : Fail(Translate(error));
        }
        // The request is the platform's from here on: HANDLE_CLOSING frees it, possibly before this call
        // returns, once a cancelled step that still writes into its buffers has ended.
        const BOOL ok = WinHttpCloseHandle(static_cast<Request*>(h)->internet);
        return ok ? true : FailWithLastError();
    }

    uint32_t LastError() override { return t_lastError; }

    ProxyMemory proxies_;

    void CancelRequest(HttpHandle request) override {
        Request* r = As<Request>(request, Kind::kRequest);
        if (!r) return;
        std::lock_guard<std::mutex> lock(r->mutex);
        r->cancelled = true;
        r->changed.notify_all();
    }

private:
    template <typename T>
    static T* As(HttpHandle handle, Kind kind) {
        if (!handle) {
            Fail(kErrorInvalidParameter);
            return nullptr;
        }
        Handle* h = static_cast<Handle*>(handle);
        if (h->kind != kind) {
            Fail(kErrorHttpIncorrectHandleType);
            return nullptr;
        }
        return static_cast<T*>(h);
    }

    // The request, unless it was cancelled.
    static Request* Usable(HttpHandle handle) {
        Request* r = As<Request>(handle, Kind::kRequest);
        if (!r) return nullptr;
        std::lock_guard<std::mutex> lock(r->mutex);
        if (r->cancelled) {
            Fail(kErrorHttpOperationCancelled);
            return nullptr;
        }
        return r;
    }

    // False (with the reason) while an earlier step is still in the platform's hands.
    static bool Idle(Request* r) {
        std::lock_guard<std::mutex> lock(r->mutex);
        if (r->cancelled) return Fail(kErrorHttpOperationCancelled);
        if (r->pending) return Fail(kErrorHttpIncorrectHandleState);
        return true;
    }

    // Starts one asynchronous step and waits until the platform completes it or the request is cancelled.
    template <typename Start>
    static bool Step(Request* r, DWORD* count, Start start) {
        {
            std::lock_guard<std::mutex> lock(r->mutex);
            if (r->cancelled) return Fail(kErrorHttpOperationCancelled);
            if (r->pending) return Fail(kErrorHttpIncorrectHandleState);
            r->pending = true;
            r->succeeded = false;
            r->error = 0;
            r->count = 0;
        }
        if (!start()) {
            // A step refused at once is not completed later.
            const DWORD error = GetLastError();
            std::lock_guard<std::mutex> lock(r->mutex);
            r->pending = false;
            return Fail(Translate(error));
        }
        std::unique_lock<std::mutex> lock(r->mutex);
        r->changed.wait(lock, [r] { return !r->pending || r->cancelled; });
        if (r->cancelled) return Fail(kErrorHttpOperationCancelled);
        if (!r->succeeded) return Fail(Translate(r->error));
        if (count) *count = r->count;
        return true;
    }
};

}  // namespace

IHttpBackend& SystemHttpBackend() {
    static WinHttpBackend backend;
    return backend;
}

}  // namespace platform
