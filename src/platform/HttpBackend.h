// One synchronous HTTP exchange, in the shape of the platform's own request calls. The exchange logic
// (attempts, challenges, body reading) lives once in the server code and drives whichever backend the
// build provides; tests drive it with a scripted backend.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// An open session, connection or request; null when opening failed.
using HttpHandle = void*;

// Authentication scheme bits as the platform numbers them.
constexpr uint32_t kHttpAuthBasic = 0x01;
constexpr uint32_t kHttpAuthNtlm = 0x02;
constexpr uint32_t kHttpAuthPassport = 0x04;
constexpr uint32_t kHttpAuthDigest = 0x08;
constexpr uint32_t kHttpAuthNegotiate = 0x10;

// Who asked for credentials.
constexpr uint32_t kHttpAuthTargetServer = 0;
constexpr uint32_t kHttpAuthTargetProxy = 1;

// Request flags.
constexpr uint32_t kHttpFlagBypassProxyCache = 0x100;
constexpr uint32_t kHttpFlagSecure = 0x800000;

// Error codes reported by LastError, numbered as the platform numbers them.
constexpr uint32_t kErrorNotEnoughMemory = 8;
constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kErrorInsufficientBuffer = 122;
constexpr uint32_t kErrorInvalidOperation = 4317;
constexpr uint32_t kErrorHttpTimeout = 12002;
constexpr uint32_t kErrorHttpInternal = 12004;
constexpr uint32_t kErrorHttpInvalidUrl = 12005;
constexpr uint32_t kErrorHttpNameNotResolved = 12007;
constexpr uint32_t kErrorHttpOperationCancelled = 12017;
constexpr uint32_t kErrorHttpIncorrectHandleType = 12018;
constexpr uint32_t kErrorHttpIncorrectHandleState = 12019;
constexpr uint32_t kErrorHttpCannotConnect = 12029;
constexpr uint32_t kErrorHttpConnectionError = 12030;
constexpr uint32_t kErrorHttpResendRequest = 12032;
constexpr uint32_t kErrorHttpHeaderNotFound = 12150;
constexpr uint32_t kErrorHttpInvalidServerResponse = 12152;
constexpr uint32_t kErrorHttpSecureFailure = 12175;

// The largest answer body an exchange takes in; a larger one fails the exchange. A backend that gathers
// the answer before it is read stops gathering soon after this many bytes.
constexpr uint32_t kHttpMaxBodyBytes = 32u << 20;

class IHttpBackend {
public:
    // Session with the user-agent text; the proxy is found by the platform itself.
    virtual HttpHandle Open(const std::wstring& agent) = 0;
    // Connection to host and port (0: the scheme's default port). Nothing is sent yet.
    virtual HttpHandle Connect(HttpHandle session, const std::wstring& host, uint16_t port) = 0;
    // Request with method, target (path and query) and kHttpFlag* bits.
    virtual HttpHandle OpenRequest(HttpHandle connection, const std::wstring& method,
                                   const std::wstring& path, uint32_t flags) = 0;
    // Credentials for the next send, for one kHttpAuth* scheme and a kHttpAuthTarget*.
    virtual bool SetCredentials(HttpHandle request, uint32_t target, uint32_t scheme,
                                const std::wstring& user, const std::wstring& password) = 0;
    // Sends the request. headers: additional header lines separated by CR LF, empty for none; the
    // optional data is the entity (optionalLength bytes of totalLength).
    virtual bool SendRequest(HttpHandle request, const std::wstring& headers, const void* optional,
                             uint32_t optionalLength, uint32_t totalLength) = 0;
    // Waits for the response's status line and headers.
    virtual bool ReceiveResponse(HttpHandle request) = 0;
    virtual bool QueryStatusCode(HttpHandle request, uint32_t* status) = 0;
    // The raw header block, lines ended by CR LF. *bufferBytes is the buffer's size in bytes; with a null or
    // short buffer the call fails with kErrorInsufficientBuffer and *bufferBytes holds the size needed
    // (including the terminating NUL). On success *bufferBytes holds the size of the text without the NUL.
    virtual bool QueryRawHeaders(HttpHandle request, wchar_t* buffer, uint32_t* bufferBytes) = 0;
    // Schemes offered by the last 401 or 407 response: the kHttpAuth* bits, the first one named, and
    // whether the server or the proxy asked.
    virtual bool QueryAuthSchemes(HttpHandle request, uint32_t* supported, uint32_t* first,
                                  uint32_t* target) = 0;
    // Number of body bytes that can be read now; 0 at the end of the body.
    virtual bool QueryDataAvailable(HttpHandle request, uint32_t* available) = 0;
    virtual bool ReadData(HttpHandle request, void* buffer, uint32_t toRead, uint32_t* read) = 0;
    virtual bool CloseHandle(HttpHandle handle) = 0;
    // Cancels a request from another thread: the call in progress on it (send, receive, a header or
    // data query, a read) returns soon with failure and LastError() == kErrorHttpOperationCancelled on
    // that thread, and so does every later call on it. The owner still closes the handle with
    // CloseHandle. The exchange guarantees that CancelRequest and CloseHandle for the same handle never
    // run at the same time, and that CancelRequest is never called after CloseHandle.
    virtual void CancelRequest(HttpHandle request) = 0;
    // Error code of the calling thread's last failed call.
    virtual uint32_t LastError() = 0;

protected:
    ~IHttpBackend() = default;
};

// The platform's backend, shared by every exchange of the process.
IHttpBackend& SystemHttpBackend();

// Limits of an exchange, in milliseconds. The first three bound each single wait (the product keeps the
// platform's defaults); exchangeMs bounds the whole exchange from opening its request, whatever the server
// does, so that an answer trickling in just fast enough to beat the waits cannot hold the caller without
// end. It is the sum of the three waits: no exchange that a single wait's limit lets through is cut short.
struct HttpTimeouts {
    uint32_t connectMs = 60000;
    uint32_t sendMs = 30000;
    uint32_t receiveMs = 30000;
    uint32_t exchangeMs = 120000;
};

// Tests only: shortens the limits so that a stalled peer fails quickly; null restores the defaults.
void SetHttpTimeoutsForTesting(const HttpTimeouts* timeouts);
HttpTimeouts CurrentHttpTimeouts();

// Where the proxy comes from when the product does not let the platform find it. Finding it may ask the
// network (proxy auto-discovery), which a test must never do.
struct HttpProxySetting {
    std::string proxy;             // "host:port" (a leading "http://" is allowed); empty: no proxy
    std::string bypass;            // hosts reached directly, separated by ',' or ';'
    bool fromEnvironment = false;  // take both from http_proxy and no_proxy instead
};

// Tests only: nothing is discovered on the network, the proxy is the one given; null restores discovery.
void SetHttpProxyForTesting(const HttpProxySetting* setting);
// False while the platform finds the proxy (the product); otherwise *setting receives the test's choice.
bool CurrentHttpProxyForTesting(HttpProxySetting* setting);

}  // namespace platform
