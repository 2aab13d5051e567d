// The HTTP backend on POSIX: each send runs one libcurl transfer to its end and keeps the final response
// (status line, raw header block, body) for the queries and reads that follow, as the platform's request
// handle does. The proxy comes from the environment (http_proxy, no_proxy), as libcurl reads it. Redirects
// are followed as the platform's service follows them by default, never from https to http. The body is
// kept in blocks that each read hands over and frees, so that an answer is never held whole twice; no
// more than the exchange's body limit is gathered, and all transfers of a request end within the
// exchange's time limit counted from its opening. A transfer runs on a multi handle of its own, so that a
// cancel from another thread can wake its wait.
//
// Ending a transfer never waits for its name lookup: libcurl resolves on a thread of its own, which is
// left to finish by itself. Such a thread runs libcurl's code, and this library (which brings libcurl in)
// may be unloaded by its host meanwhile; so once a lookup may have started, this library is marked never
// to be unloaded (see KeepLoadedForLookups).
#include <arpa/inet.h>
#include <curl/curl.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <new>
#include <string>

#include "platform/HttpBackend.h"
#include "platform/ModuleLifetime.h"

namespace platform {
namespace {

thread_local uint32_t t_lastError = 0;

bool Fail(uint32_t code) {
    t_lastError = code;
    return false;
}

std::string ToUtf8(const std::wstring& text) {
    std::string out;
    out.reserve(text.size());
    for (wchar_t wc : text) {
        uint32_t c = static_cast<uint32_t>(wc);
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = '?';
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

bool StartsWithNoCase(const std::string& text, const char* prefix) {
    const size_t n = std::strlen(prefix);
    if (text.size() < n) return false;
    for (size_t i = 0; i < n; ++i) {
        char a = text[i];
        if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
        if (a != prefix[i]) return false;
    }
    return true;
}

// A host name or address as it may stand in a URL; anything else cannot be resolved.
bool IsValidHost(const std::string& host) {
    if (host.empty()) return false;
    for (unsigned char c : host) {
        if (c >= 0x80 || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) continue;
        if (c == '-' || c == '.' || c == '_' || c == '~' || c == ':' || c == '[' || c == ']') continue;
        return false;
    }
    return true;
}

// The target as given, with the bytes that may not stand in a request line escaped.
std::string EscapeTarget(const std::string& target) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    if (target.empty() || target[0] != '/') out += '/';
    for (unsigned char c : target) {
        if (c <= 0x20 || c >= 0x7F || c == '#') {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0x0F];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

uint32_t MapCurlError(CURLcode rc) {
    switch (rc) {
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return kErrorHttpNameNotResolved;
        case CURLE_COULDNT_CONNECT:
            return kErrorHttpCannotConnect;
        case CURLE_OPERATION_TIMEDOUT:
        case CURLE_ABORTED_BY_CALLBACK:
            return kErrorHttpTimeout;
        case CURLE_URL_MALFORMAT:
            return kErrorHttpInvalidUrl;
        case CURLE_GOT_NOTHING:
        case CURLE_WEIRD_SERVER_REPLY:
        case CURLE_UNSUPPORTED_PROTOCOL:
            return kErrorHttpInvalidServerResponse;
        case CURLE_PARTIAL_FILE:
        case CURLE_RECV_ERROR:
        case CURLE_SEND_ERROR:
            return kErrorHttpConnectionError;
        case CURLE_OUT_OF_MEMORY:
        case CURLE_WRITE_ERROR:
            return kErrorNotEnoughMemory;
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_ENGINE_NOTFOUND:
            return kErrorHttpSecureFailure;
        default:
            return kErrorHttpInternal;
    }
}

// Whether the transfer to `host` may start a name lookup: a host name, or a proxy that may be named.
bool MayLookUp(const std::string& host, bool testProxy, const std::string& proxy) {
    if (testProxy) {
        if (!proxy.empty()) return true;
    } else {
        for (const char* name :
             {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
            const char* value = std::getenv(name);
            if (value != nullptr && *value != '\0') return true;
        }
    }
    unsigned char address[16];
    std::string bare = host;
    if (bare.size() >= 2 && bare.front() == '[' && bare.back() == ']') bare = bare.substr(1, bare.size() - 2);
    return inet_pton(AF_INET, bare.c_str(), address) != 1 && inet_pton(AF_INET6, bare.c_str(), address) != 1;
}

// A lookup thread left running by an ended transfer outlives it and may outlive the host's hold on this
// library; its return must not land in unmapped code. libcurl does not tell when such a thread ends, so a
// reference could never be given back at the right time: instead the library is marked, once, never to be
// unloaded (RTLD_NODELETE on the object already loaded). A program that never looks a name up (an address
// given as digits) keeps the ordinary unloading.
void KeepLoadedForLookups() {
    static std::once_flag once;
    std::call_once(once, PinOwnLibrary);
}

enum class Kind { kSession, kConnection, kRequest };

struct Handle {
    explicit Handle(Kind k) : kind(k) {}
    virtual ~Handle() = default;
    const Kind kind;
};

// Children copy what they need, so a handle never points at its parent.
struct Session : Handle {
    Session() : Handle(Kind::kSession) {}
    std::string agent;
};

struct Connection : Handle {
    Connection() : Handle(Kind::kConnection) {}
    std::string agent;
    std::string host;
    uint16_t port = 0;
};

struct Request : Handle {
    Request() : Handle(Kind::kRequest) {}
    std::string agent;
    std::string host;
    uint16_t port = 0;
    std::string method;
    std::string target;
    uint32_t flags = 0;
    std::chrono::steady_clock::time_point opened = std::chrono::steady_clock::now();

    long serverAuth = 0;
    std::string serverUser, serverPassword;
    long proxyAuth = 0;
    std::string proxyUser, proxyPassword;

    // Outcome of the last send.
    bool sent = false;
    bool received = false;
    uint32_t receiveError = 0;
    uint32_t status = 0;
    std::string headerBlock;  // the final response's header block, CR LF lines
    bool headersComplete = false;
    std::deque<std::string> body;  // the body not yet read, in blocks; the first one is read from bodyRead on
    size_t bodyRead = 0;
    size_t bodyBytes = 0;    // the size of the whole body gathered
    size_t bodyTaken = 0;    // how much of it was read
    size_t largestBody = 0;  // the most any response of this request gathered
    uint32_t bodyError = 0;  // why the body ended early; 0 when it arrived whole

    // Set by CancelRequest from any thread; every call on the request fails from then on.
    std::atomic<bool> cancelled{false};
    // The running transfer's multi handle, for CancelRequest to wake; null between transfers.
    std::mutex wakeLock;
    CURLM* multi = nullptr;

    void ClearBody() {
        body.clear();
        bodyRead = bodyBytes = bodyTaken = 0;
    }
    // Frees the blocks read to their end.
    void DropReadBlocks() {
        while (!body.empty() && bodyRead >= body.front().size()) {
            body.pop_front();
            bodyRead = 0;
        }
    }
    void ResetOutcome() {
        sent = received = headersComplete = false;
        receiveError = status = bodyError = 0;
        headerBlock.clear();
        ClearBody();
    }
};

// State of one running transfer, seen by the libcurl callbacks.
struct Transfer {
    using Clock = std::chrono::steady_clock;
    Request* request = nullptr;
    CURL* curl = nullptr;
    HttpTimeouts timeouts;
    curl_off_t uploadSize = 0;
    bool connected = false;
    bool stalled = false;
    bool stalledSending = false;
    bool outOfMemory = false;
    bool overLimit = false;
    bool secureSeen = false;  // a step of the redirect chain went over https
    bool downgraded = false;  // a later step would have gone over plain http
    curl_off_t lastUp = 0;
    curl_off_t lastDown = 0;
    Clock::time_point lastActivity = Clock::now();

    void Touch() { lastActivity = Clock::now(); }
};

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
    Transfer* t = static_cast<Transfer*>(user);
    Request* r = t->request;
    const size_t n = size * count;
    t->Touch();
    try {
        std::string line(data, n);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        if (line.compare(0, 5, "HTTP/") == 0) {
            // A new response (after an interim one or a handshake step) replaces what came before.
            r->headerBlock.clear();
            r->ClearBody();
            r->headersComplete = false;
            r->status = 0;
            const size_t space = line.find(' ');
            if (space != std::string::npos) {
                uint32_t status = 0;
                for (size_t i = space + 1; i < line.size() && i < space + 4; ++i) {
                    if (line[i] < '0' || line[i] > '9') break;
                    status = status * 10 + static_cast<uint32_t>(line[i] - '0');
                }
                r->status = status;
            }
        }
        r->headerBlock += line;
        r->headerBlock += "\r\n";
        if (line.empty()) r->headersComplete = true;
    } catch (const std::bad_alloc&) {
        t->outOfMemory = true;
        return 0;
    }
    return n;
}

// Body blocks are about this large; a small answer stays in one.
constexpr size_t kBodyBlock = 64 * 1024;

size_t OnBody(char* data, size_t size, size_t count, void* user) {
    Transfer* t = static_cast<Transfer*>(user);
    Request* r = t->request;
    const size_t n = size * count;
    t->Touch();
    // Past the limit the exchange fails anyway: what is held already tells it so.
    if (r->bodyBytes > kHttpMaxBodyBytes) {
        t->overLimit = true;
        return 0;
    }
    try {
        if (r->body.empty() || r->body.back().size() >= kBodyBlock) r->body.emplace_back();
        r->body.back().append(data, n);
        r->bodyBytes += n;
        r->largestBody = std::max(r->largestBody, r->bodyBytes);
    } catch (const std::bad_alloc&) {
        t->outOfMemory = true;
        return 0;
    }
    return n;
}

// Called before each step of a redirect chain sends its request: once a step went over https, a plain
// one is refused before anything goes out, as the platform's service refuses it.
int OnPrereq(void* user, char*, char*, int, int) {
    Transfer* t = static_cast<Transfer*>(user);
    const char* scheme = nullptr;
    if (curl_easy_getinfo(t->curl, CURLINFO_SCHEME, &scheme) == CURLE_OK && scheme != nullptr) {
        const bool secure = std::strcmp(scheme, "https") == 0 || std::strcmp(scheme, "HTTPS") == 0;
        if (secure) {
            t->secureSeen = true;
        } else if (t->secureSeen) {
            t->downgraded = true;
            return CURL_PREREQFUNC_ABORT;
        }
    }
    t->connected = true;
    t->Touch();
    return CURL_PREREQFUNC_OK;
}

// Fails a transfer that has made no progress for the send or receive limit; until the connection
// stands, the connect limit (kept by libcurl) applies instead.
int OnProgress(void* user, curl_off_t, curl_off_t down, curl_off_t, curl_off_t up) {
    Transfer* t = static_cast<Transfer*>(user);
    if (up != t->lastUp || down != t->lastDown) {
        t->lastUp = up;
        t->lastDown = down;
        t->Touch();
    }
    if (!t->connected) return 0;
    const bool sending = up < t->uploadSize;
    const uint32_t limit = sending ? t->timeouts.sendMs : t->timeouts.receiveMs;
    const auto idle =
        std::chrono::duration_cast<std::chrono::milliseconds>(Transfer::Clock::now() - t->lastActivity);
    if (idle.count() >= static_cast<long long>(limit)) {
        t->stalled = true;
        t->stalledSending = sending;
        return 1;
    }
    return 0;
}

class CurlHttpBackend final : public IHttpBackend {
public:
    CurlHttpBackend() {
        globalOk_ = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
        const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
        features_ = info ? info->features : 0;
    }

    HttpHandle Open(const std::wstring& agent) override {
        if (!globalOk_) return Fail(kErrorHttpInternal), nullptr;
        Session* s = new (std::nothrow) Session;
        if (!s) return Fail(kErrorNotEnoughMemory), nullptr;
        s->agent = ToUtf8(agent);
        return static_cast<Handle*>(s);
    }

    HttpHandle Connect(HttpHandle session, const std::wstring& host, uint16_t port) override {
        Session* s = As<Session>(session, Kind::kSession);
        if (!s) return nullptr;
        if (host.empty()) return Fail(kErrorInvalidParameter), nullptr;
        Connection* c = new (std::nothrow) Connection;
        if (!c) return Fail(kErrorNotEnoughMemory), nullptr;
        c->agent = s->agent;
        c->host = ToUtf8(host);
        c->port = port;
        return static_cast<Handle*>(c);
    }

    HttpHandle OpenRequest(HttpHandle connection, const std::wstring& method, const std::wstring& path,
                           uint32_t flags) override {
        Connection* c = As<Connection>(connection, Kind::kConnection);
        if (!c) return nullptr;
        if (method.empty()) return Fail(kErrorInvalidParameter), nullptr;
        Request* r = new (std::nothrow) Request;
        if (!r) return Fail(kErrorNotEnoughMemory), nullptr;
        r->agent = c->agent;
        r->host = c->host;
        r->port = c->port;
        r->method = ToUtf8(method);
        r->target = ToUtf8(path);
        r->flags = flags;
        r->opened = std::chrono::steady_clock::now();
        return static_cast<Handle*>(r);
    }

    bool SetCredentials(HttpHandle request, uint32_t target, uint32_t scheme, const std::wstring& user,
                        const std::wstring& password) override {
        Request* r = As<Request>(request, Kind::kRequest);
        if (!r) return false;
        long curlScheme = 0;
        switch (scheme) {
            case kHttpAuthBasic:
                curlScheme = CURLAUTH_BASIC;
                break;
            case kHttpAuthDigest:
                curlScheme = CURLAUTH_DIGEST;
                break;
            case kHttpAuthNtlm:
                if (features_ & CURL_VERSION_NTLM) curlScheme = CURLAUTH_NTLM;
                break;
            case kHttpAuthNegotiate:
                if (features_ & CURL_VERSION_SPNEGO) curlScheme = CURLAUTH_NEGOTIATE;
                break;
            default:
                break;
        }
        if (curlScheme == 0) return Fail(kErrorInvalidParameter);
        if (target == kHttpAuthTargetServer) {
            r->serverAuth = curlScheme;
            r->serverUser = ToUtf8(user);
            r->serverPassword = ToUtf8(password);
        } else if (target == kHttpAuthTargetProxy) {
            r->proxyAuth = curlScheme;
            r->proxyUser = ToUtf8(user);
            r->proxyPassword = ToUtf8(password);
        } else {
            return Fail(kErrorInvalidParameter);
        }
        return true;
    }

    bool SendRequest(HttpHandle request, const std::wstring& headers, const void* optional,
                     uint32_t optionalLength, uint32_t totalLength) override {
        Request* r = As<Request>(request, Kind::kRequest);
        if (!r) return false;
        if (optionalLength > totalLength || (optionalLength && !optional))
            return Fail(kErrorInvalidParameter);
        // The entity goes out whole with the request; streaming the rest later is not offered.
        if (optionalLength != totalLength) return Fail(kErrorInvalidParameter);
        r->ResetOutcome();
        if (!IsValidHost(r->host)) return Fail(kErrorHttpNameNotResolved);
        try {
            return Perform(*r, ToUtf8(headers), optional, optionalLength);
        } catch (const std::bad_alloc&) {
            return Fail(kErrorNotEnoughMemory);
        }
    }

    bool ReceiveResponse(HttpHandle request) override {
        Request* r = As<Request>(request, Kind::kRequest);
        if (!r) return false;
        if (!r->sent) return Fail(kErrorHttpIncorrectHandleState);
        if (!r->received) return Fail(r->receiveError);
        return true;
    }

    bool QueryStatusCode(HttpHandle request, uint32_t* status) override {
        Request* r = As<Request>(request, Kind::kRequest);
        if (!r) return false;
        if (!status) return Fail(kErrorInvalidParameter);
        if (!r->received) return Fail(kErrorHttpIncorrectHandleState);
        *status = r->status;
        return true;
    }

    bool QueryRawHeaders(HttpHandle request, wchar_t* buffer, uint32_t* bufferBytes) override {
        Request* r = As<Request>(request, Kind::kRequest);
        if (!r) return false;
        if (!bufferBytes) return Fail(kErrorInvalidParameter);
        if (!r->received) return Fail(kErrorHttpIncorrectHandleState);
        const size_t chars = r->headerBlock.size();
        const size_t needed = (chars + 1) * sizeof(wchar_t);
        if (needed > UINT32_MAX) return Fail(kErrorNotEnoughMemory);
        if (!buffer || *bufferBytes < needed) {
            *bufferBytes = static_cast<uint32_t>(needed);
            return Fail(kErrorInsufficientBuffer);
        }
        // Header bytes are taken one to one as characters, which keeps any byte value intact.
        for (size_t i = 0; i < chars; ++i) buffer[i] = static_cast<unsigned char>(r->headerBlock[i]);
        buffer[chars] = L'\0';
        *bufferBytes = static_cast<uint32_t>(chars * sizeof(wchar_t));
        return true;
    }

    bool QueryAuthSchemes(HttpHandle request, uint32_t* supported, uint32_t* first,
                          uint32_t* target) override {
        Request* r = As<Request>(request, Kind::kRequest);
        if (!r) return false;
        if (!supported || !first || !target) return Fail(kErrorInvalidParameter);
        if (!r->received) return Fail(kErrorHttpIncorrectHandleState);
        const char* name = nullptr;
        if (r->status == 401) {
            name = "www-authenticate:";
            *target = kHttpAuthTargetServer;
        } else if (r->status == 407) {
            name = "proxy-authenticate:";
            *target = kHttpAuthTargetProxy;
        } else {
            return Fail(kErrorInvalidOperation);
        }
        bool found = false;
        *supported = 0;
        *first = 0;
        size_t pos = 0;
        while (pos < r->headerBlock.size()) {
            size_t end = r->headerBlock.find("\r\n", pos);
            if (end == std::string::npos) end = r->headerBlock.size();
            const std::string line = r->headerBlock.substr(pos, end - pos);
            pos = end + 2;
            if (!StartsWithNoCase(line, name)) continue;
            found = true;
            ParseChallenges(line.substr(std::strlen(name)), supported, first);
        }
        if (!found) return Fail(kErrorInvalidOperation);
        return true;
    }

    bool QueryDataAvailable(HttpHandle request, uint32_t* available) override {
        Request* r = As<Request>(request, Kind::kRequest);
        if (!r) return false;
        if (!available) return Fail(kErrorInvalidParameter);
        if (!r->received) return Fail(kErrorHttpIncorrectHandleState);
        // Everything gathered can be read now: the reader sizes its buffer once (and sees at once an answer
        // over its limit) instead of growing it piece by piece.
        const size_t remaining = r->bodyBytes - r->bodyTaken;
        if (remaining > 0) {
            *available = static_cast<uint32_t>(std::min<size_t>(remaining, UINT32_MAX));
            return true;
        }
        *available = 0;
        if (r->bodyError) return Fail(r->bodyError);
        return true;
    }

    bool ReadData(HttpHandle request, void* buffer, uint32_t toRead, uint32_t* read) override {
        Request* r = As<Request>(request, Kind::kRequest);
        if (!r) return false;
        if (!read || (toRead && !buffer)) return Fail(kErrorInvalidParameter);
        if (!r->received) return Fail(kErrorHttpIncorrectHandleState);
        r->DropReadBlocks();
        if (r->body.empty() && r->bodyError && toRead) return Fail(r->bodyError);
        size_t n = 0;
        while (n < toRead && !r->body.empty()) {
            const std::string& block = r->body.front();
            const size_t take = std::min<size_t>(block.size() - r->bodyRead, toRead - n);
            std::memcpy(static_cast<char*>(buffer) + n, block.data() + r->bodyRead, take);
            n += take;
            r->bodyRead += take;
            r->bodyTaken += take;
            r->DropReadBlocks();
        }
        *read = static_cast<uint32_t>(n);
        return true;
    }

    bool CloseHandle(HttpHandle handle) override {
        if (!handle) return Fail(kErrorInvalidParameter);
        Handle* h = static_cast<Handle*>(handle);
        const bool large =
            h->kind == Kind::kRequest && static_cast<Request*>(h)->largestBody > kTrimAfterBytes;
        delete h;
        // A large answer (one over the exchange's limit above all) leaves much freed memory in the thread's
        // heap, which the allocator keeps unless told; the exchange has dropped its copy by now.
#if defined(__GLIBC__)
        if (large) malloc_trim(0);
#else
        (void)large;
#endif
        return true;
    }

    uint32_t LastError() override {
        return t_lastError;
    }

    void CancelRequest(HttpHandle request) override {
        Handle* h = static_cast<Handle*>(request);
        if (!h || h->kind != Kind::kRequest) return;
        Request* r = static_cast<Request*>(h);
        r->cancelled.store(true);
        std::lock_guard<std::mutex> guard(r->wakeLock);
        if (r->multi) curl_multi_wakeup(r->multi);
    }

private:
    static constexpr size_t kTrimAfterBytes = 4u << 20;

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
        if (kind == Kind::kRequest && static_cast<Request*>(h)->cancelled.load()) {
            Fail(kErrorHttpOperationCancelled);
            return nullptr;
        }
        return static_cast<T*>(h);
    }

    // Challenges and their parameters are separated by commas (outside quoted strings); an element
    // begins with a scheme unless its first token is followed by '='.
    static void ParseChallenges(const std::string& value, uint32_t* supported, uint32_t* first) {
        std::string element;
        bool quoted = false;
        for (size_t i = 0;; ++i) {
            if (i >= value.size()) {
                AddScheme(element, supported, first);
                return;
            }
            const char c = value[i];
            if (quoted) {
                if (c == '\\' && i + 1 < value.size())
                    ++i;
                else if (c == '"')
                    quoted = false;
                continue;
            }
            if (c == '"') {
                quoted = true;
            } else if (c != ',') {
                element += c;
            } else {
                AddScheme(element, supported, first);
                element.clear();
            }
        }
    }

    static void AddScheme(const std::string& element, uint32_t* supported, uint32_t* first) {
        size_t i = element.find_first_not_of(" \t");
        if (i == std::string::npos) return;
        const size_t end = element.find_first_of(" \t=", i);
        std::string token = element.substr(i, end == std::string::npos ? std::string::npos : end - i);
        const size_t next =
            end == std::string::npos ? std::string::npos : element.find_first_not_of(" \t", end);
        if (next != std::string::npos && element[next] == '=') return;  // a parameter of the one before
        for (char& c : token) {
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        }
        uint32_t bit = 0;
        if (token == "basic")
            bit = kHttpAuthBasic;
        else if (token == "ntlm")
            bit = kHttpAuthNtlm;
        else if (token == "passport1.4")
            bit = kHttpAuthPassport;
        else if (token == "digest")
            bit = kHttpAuthDigest;
        else if (token == "negotiate")
            bit = kHttpAuthNegotiate;
        *supported |= bit;
        if (*first == 0) *first = bit;
    }

    bool Perform(Request& r, const std::string& extraHeaders, const void* optional, uint32_t length) {
        // Every transfer of the request ends within the exchange's limit, counted from the request's opening,
        // and a little after it (libcurl may end up to a millisecond early): the exchange then always finds
        // its time up and fails, rather than taking a body cut short here for a whole one.
        const HttpTimeouts timeouts = CurrentHttpTimeouts();
        const auto spent =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - r.opened)
                .count();
        const long long leftMs = static_cast<long long>(timeouts.exchangeMs) - spent;
        if (leftMs <= 0) return Fail(kErrorHttpTimeout);
        constexpr long long kPastTheExchangeMs = 50;

        CURL* curl = curl_easy_init();
        if (!curl) return Fail(kErrorNotEnoughMemory);

        std::string url = (r.flags & kHttpFlagSecure) ? "https://" : "http://";
        const bool literal6 = r.host.find(':') != std::string::npos && r.host[0] != '[';
        url += literal6 ? "[" + r.host + "]" : r.host;
        if (r.port != 0) url += ":" + std::to_string(r.port);
        url += EscapeTarget(r.target);

        // The caller's header lines go out unchanged; libcurl's own defaults that the platform would not
        // send are removed unless the caller names them.
        curl_slist* list = nullptr;
        bool hasContentType = false, hasAccept = false, hasExpect = false;
        size_t pos = 0;
        while (pos < extraHeaders.size()) {
            size_t end = extraHeaders.find('\n', pos);
            if (end == std::string::npos) end = extraHeaders.size();
            std::string line = extraHeaders.substr(pos, end - pos);
            pos = end + 1;
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.empty()) continue;
            hasContentType = hasContentType || StartsWithNoCase(line, "content-type:");
            hasAccept = hasAccept || StartsWithNoCase(line, "accept:");
            hasExpect = hasExpect || StartsWithNoCase(line, "expect:");
            list = curl_slist_append(list, line.c_str());
        }
        if (!hasContentType) list = curl_slist_append(list, "Content-Type:");
        if (!hasAccept) list = curl_slist_append(list, "Accept:");
        if (!hasExpect) list = curl_slist_append(list, "Expect:");
        if (r.flags & kHttpFlagBypassProxyCache) {
            list = curl_slist_append(list, "Pragma: no-cache");
            list = curl_slist_append(list, "Cache-Control: no-cache");
        }

        Transfer t;
        t.request = &r;
        t.curl = curl;
        t.timeouts = timeouts;
        t.uploadSize = length;

        curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
        curl_easy_setopt(curl, CURLOPT_PATH_AS_IS, 1L);
        curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
        curl_easy_setopt(curl, CURLOPT_USERAGENT, r.agent.c_str());
        curl_easy_setopt(curl, CURLOPT_HTTPHEADER, list);
        curl_easy_setopt(curl, CURLOPT_HTTP_CONTENT_DECODING, 0L);
        curl_easy_setopt(curl, CURLOPT_HTTP_TRANSFER_DECODING, 1L);
        curl_easy_setopt(curl, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
        curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(t.timeouts.connectMs));
        curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(leftMs + kPastTheExchangeMs));
        // The platform's service follows up to ten redirects and never from a secure address to a plain one:
        // a chain that begins on http may go to https, but no further step may then go back (OnPrereq).
        curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 10L);
        curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR,
                         (r.flags & kHttpFlagSecure) ? "https" : "http,https");
        curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &OnHeader);
        curl_easy_setopt(curl, CURLOPT_HEADERDATA, &t);
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &OnBody);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, &t);
        curl_easy_setopt(curl, CURLOPT_PREREQFUNCTION, &OnPrereq);
        curl_easy_setopt(curl, CURLOPT_PREREQDATA, &t);
        curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &OnProgress);
        curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &t);
        curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
        // A proxy named by a test replaces the environment's (an empty name: none).
        HttpProxySetting given;
        const bool testProxy = CurrentHttpProxyForTesting(&given) && !given.fromEnvironment;
        // Ending the transfer (Stop among others) does not wait for a slow name lookup.
        curl_easy_setopt(curl, CURLOPT_QUICK_EXIT, 1L);
        if (MayLookUp(r.host, testProxy, given.proxy)) KeepLoadedForLookups();
        if (testProxy) {
            std::replace(given.bypass.begin(), given.bypass.end(), ';', ',');
            curl_easy_setopt(curl, CURLOPT_PROXY, given.proxy.c_str());
            curl_easy_setopt(curl, CURLOPT_NOPROXY, given.bypass.c_str());
        }

        const bool isGet = r.method == "GET";
        const bool isHead = r.method == "HEAD";
        if (isHead) {
            curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
        } else if (isGet && length == 0) {
            curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
        } else {
            if (r.method != "POST") curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, r.method.c_str());
            if (length > 0 || r.method == "POST" || r.method == "PUT") {
                curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(length));
                curl_easy_setopt(curl, CURLOPT_POSTFIELDS, length ? static_cast<const char*>(optional) : "");
            }
        }
        if (r.serverAuth) {
            curl_easy_setopt(curl, CURLOPT_HTTPAUTH, r.serverAuth);
            curl_easy_setopt(curl, CURLOPT_USERNAME, r.serverUser.c_str());
            curl_easy_setopt(curl, CURLOPT_PASSWORD, r.serverPassword.c_str());
        }
        if (r.proxyAuth) {
            curl_easy_setopt(curl, CURLOPT_PROXYAUTH, r.proxyAuth);
            curl_easy_setopt(curl, CURLOPT_PROXYUSERNAME, r.proxyUser.c_str());
            curl_easy_setopt(curl, CURLOPT_PROXYPASSWORD, r.proxyPassword.c_str());
        }

        const CURLcode rc = RunTransfer(curl, r);
        curl_easy_cleanup(curl);
        curl_slist_free_all(list);
        if (r.cancelled.load()) return Fail(kErrorHttpOperationCancelled);

        uint32_t error = 0;
        if (t.outOfMemory)
            error = kErrorNotEnoughMemory;
        else if (t.overLimit || t.downgraded)
            error = kErrorHttpInvalidServerResponse;
        else if (rc != CURLE_OK)
            error = t.stalled ? kErrorHttpTimeout : MapCurlError(rc);
        else if (!r.headersComplete || r.status == 0)
            error = kErrorHttpInvalidServerResponse;

        if (r.headersComplete && r.status != 0) {
            // The response stands; a failure after its headers cuts the body short.
            r.sent = r.received = true;
            r.bodyError = error;
            return true;
        }
        const bool requestOut = t.connected && !t.stalledSending && rc != CURLE_SEND_ERROR &&
                                rc != CURLE_COULDNT_CONNECT && rc != CURLE_COULDNT_RESOLVE_HOST &&
                                rc != CURLE_COULDNT_RESOLVE_PROXY;
        if (!requestOut) return Fail(error ? error : kErrorHttpInternal);
        r.sent = true;
        r.receiveError = error ? error : kErrorHttpInvalidServerResponse;
        return true;
    }

    // The transfer to its end, or until CancelRequest wakes the wait: a cancel takes effect at once,
    // whatever the peer does. libcurl's own time-outs and the stall check run as with a plain perform.
    static CURLcode RunTransfer(CURL* curl, Request& r) {
        CURLM* multi = curl_multi_init();
        if (!multi) return CURLE_OUT_OF_MEMORY;
        if (curl_multi_add_handle(multi, curl) != CURLM_OK) {
            curl_multi_cleanup(multi);
            return CURLE_OUT_OF_MEMORY;
        }
        {
            std::lock_guard<std::mutex> guard(r.wakeLock);
            r.multi = multi;
        }
        CURLcode rc = CURLE_OK;
        for (;;) {
            if (r.cancelled.load()) {
                rc = CURLE_ABORTED_BY_CALLBACK;
                break;
            }
            int running = 0;
            if (curl_multi_perform(multi, &running) != CURLM_OK) {
                rc = CURLE_OUT_OF_MEMORY;
                break;
            }
            if (running == 0) {
                int queued = 0;
                rc = CURLE_GOT_NOTHING;
                while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
                    if (message->msg == CURLMSG_DONE) rc = message->data.result;
                }
                break;
            }
            // The wait ends at activity, at libcurl's next timer or at a wake-up; the stall check runs
            // at least once a second.
            if (curl_multi_poll(multi, nullptr, 0, 1000, nullptr) != CURLM_OK) {
                rc = CURLE_OUT_OF_MEMORY;
                break;
            }
        }
        {
            std::lock_guard<std::mutex> guard(r.wakeLock);
            r.multi = nullptr;
        }
        curl_multi_remove_handle(multi, curl);
        curl_multi_cleanup(multi);
        return rc;
    }

    bool globalOk_ = false;
    long features_ = 0;
};

}  // namespace

IHttpBackend& SystemHttpBackend() {
    static CurlHttpBackend backend;
    return backend;
}

}  // namespace platform
