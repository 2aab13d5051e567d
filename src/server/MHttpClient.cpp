#include "server/MHttpClient.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "server/HttpCancel.h"

using platform::HttpHandle;
using platform::IHttpBackend;

namespace {

const wchar_t kOutOfTime[] = L"Exchange time limit exceeded!";
const wchar_t kBodyTooLarge[] = L"Response body exceeds the size limit!";

bool Expired(std::chrono::steady_clock::time_point deadline) {
    return std::chrono::steady_clock::now() >= deadline;
}

}  // namespace

void MHttpResponse::Clear() {
    body.clear();
    headers.clear();
    error.clear();
    status = 0;
}

uint32_t ChooseAuthScheme(uint32_t supported) {
    static const uint32_t kPreference[] = {platform::kHttpAuthNegotiate, platform::kHttpAuthNtlm,
                                           platform::kHttpAuthPassport, platform::kHttpAuthDigest,
                                           platform::kHttpAuthBasic};
    for (uint32_t scheme : kPreference) {
        if (supported & scheme) return scheme;
    }
    return 0;
}

MHttpClient::MHttpClient(std::wstring host, int32_t port, bool secure, std::wstring agent,
                         std::wstring proxyUser, std::wstring proxyPassword, std::wstring serverUser,
                         std::wstring serverPassword)
    : host_(std::move(host)),
      port_(port),
      secure_(secure),
      agent_(std::move(agent)),
      proxyUser_(std::move(proxyUser)),
      proxyPassword_(std::move(proxyPassword)),
      serverUser_(std::move(serverUser)),
      serverPassword_(std::move(serverPassword)),
      backend_(&platform::SystemHttpBackend()) {}

void MHttpClient::SetBackend(IHttpBackend* backend) {
    backend_ = backend ? backend : &platform::SystemHttpBackend();
}

bool MHttpClient::HttpGet(const std::wstring& path, const std::wstring& headers,
                          MHttpResponse& response) const {
    return Execute(L"GET", path, headers, std::string(), response);
}

bool MHttpClient::HttpPost(const std::wstring& path, const std::wstring& headers, const std::string& body,
                           MHttpResponse& response) const {
    return Execute(L"POST", path, headers, body, response);
}

bool MHttpClient::HttpPut(const std::wstring& path, const std::wstring& headers, const std::string& body,
                          MHttpResponse& response) const {
    return Execute(L"PUT", path, headers, body, response);
}

bool MHttpClient::HttpDelete(const std::wstring& path, const std::wstring& headers, const std::string& body,
                             MHttpResponse& response) const {
    return Execute(L"DELETE", path, headers, body, response);
}

bool MHttpClient::Execute(const std::wstring& method, const std::wstring& path, const std::wstring& headers,
                          const std::string& body, MHttpResponse& response) const {
    IHttpBackend& backend = *backend_;
    response.status = 0;
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(platform::CurrentHttpTimeouts().exchangeMs);

    // Whatever way the exchange ends (exceptions included), its cancel registration goes first and then
    // its handles, innermost first.
    struct Handles {
        IHttpBackend& backend;
        HttpHandle session = nullptr;
        HttpHandle connection = nullptr;
        HttpHandle request = nullptr;
        HttpCancel* cancel = nullptr;
        ~Handles() {
            if (cancel) cancel->Detach();
            if (request) backend.CloseHandle(request);
            if (connection) backend.CloseHandle(connection);
            if (session) backend.CloseHandle(session);
        }
    } open{backend};

    open.session = backend.Open(agent_);
    if (!open.session) {
        response.error = L"WinHttpOpen fails!";
        return false;
    }
    // Only the low 16 bits of the port reach the platform.
    open.connection = backend.Connect(open.session, host_, static_cast<uint16_t>(port_ & 0xFFFF));
    if (!open.connection) {
        response.error = L"WinHttpConnect fails!";
        return false;
    }
    const uint32_t flags = platform::kHttpFlagBypassProxyCache | (secure_ ? platform::kHttpFlagSecure : 0);
    open.request = backend.OpenRequest(open.connection, method, path, flags);
    // A request that cannot be opened ends the exchange without a message.
    if (!open.request) return false;

    // While it is open, the thread's cancel token (if any) can end it; a cancelled step fails as the
    // platform reports it.
    open.cancel = HttpCancel::OfThisThread();
    if (open.cancel) open.cancel->Attach(&backend, open.request);
    return RunAttempts(open.request, headers, body, deadline, response);
}

bool MHttpClient::RunAttempts(HttpHandle request, const std::wstring& headers, const std::string& body,
                              Deadline deadline, MHttpResponse& response) const {
    IHttpBackend& backend = *backend_;
    bool ok = false;
    bool done = false;
    uint32_t lastStatus = 0;
    uint32_t proxyScheme = 0;
    int challenges = 0;
    int resends = 0;

    // The platform counts the entity in 32 bits; a larger one cannot be sent whole.
    if (body.size() > std::numeric_limits<uint32_t>::max()) {
        response.error = L"WinHttpSendRequest fails!";
        return false;
    }
    const uint32_t length = static_cast<uint32_t>(body.size());

    while (!done) {
        if (Expired(deadline)) {
            response.error = kOutOfTime;
            return false;
        }
        // An empty proxy user name means that proxy credentials are never given.
        if (proxyScheme != 0 && !proxyUser_.empty()) {
            if (!backend.SetCredentials(request, platform::kHttpAuthTargetProxy, proxyScheme, proxyUser_,
                                        proxyPassword_)) {
                response.error = L"WinHttpSetCredentials fails!";
            }
        }

        ok = backend.SendRequest(request, headers, length ? body.data() : nullptr, length, length);
        if (!ok) response.error = L"WinHttpSendRequest fails!";
        if (ok) {
            ok = backend.ReceiveResponse(request);
            if (!ok) response.error = L"WinHttpReceiveResponse fails!";
        }
        // The platform asks for the same request again (after a handshake step, for example); a peer that
        // keeps asking fails the exchange.
        if (!ok && backend.LastError() == platform::kErrorHttpResendRequest && resends < kMaxResends) {
            ++resends;
            continue;
        }

        if (ok) {
            ok = backend.QueryStatusCode(request, &response.status);
            if (!ok) response.error = L"WinHttpQueryHeaders fails!";
            // The header block decides, whatever the status query gave.
            uint32_t size = 0;
            if (!backend.QueryRawHeaders(request, nullptr, &size) &&
                backend.LastError() == platform::kErrorInsufficientBuffer) {
                std::wstring block(size / sizeof(wchar_t) + 1, L'\0');
                uint32_t capacity = static_cast<uint32_t>(block.size() * sizeof(wchar_t));
                ok = backend.QueryRawHeaders(request, &block[0], &capacity);
                if (ok) {
                    block.resize(std::min<size_t>(capacity / sizeof(wchar_t), block.size()));
                    response.headers = std::move(block);
                }
            }
        }

        // Every response carries a body, challenges included; each attempt reads it afresh.
        if (ok) ok = ReadBody(request, deadline, response);

        if (ok) {
            uint32_t supported = 0;
            uint32_t first = 0;
            uint32_t target = 0;
            if (response.status == 401) {
                ok = backend.QueryAuthSchemes(request, &supported, &first, &target);
                if (!ok) {
                    response.error = L"WinHttpQueryAuthSchemes in case 401 fails!";
                } else {
                    const uint32_t scheme = ChooseAuthScheme(supported);
                    if (scheme == 0) {
                        done = true;
                    } else {
                        ok = backend.SetCredentials(request, target, scheme, serverUser_, serverPassword_);
                        if (!ok) response.error = L"WinHttpSetCredentials in case 401 fails!";
                    }
                }
                // A second challenge in a row means the credentials were refused.
                if (lastStatus == 401) done = true;
            } else if (response.status == 407) {
                ok = backend.QueryAuthSchemes(request, &supported, &first, &target);
                if (!ok) {
                    response.error = L"WinHttpQueryAuthSchemes in case 407 fails!";
                } else {
                    proxyScheme = ChooseAuthScheme(supported);
                }
                if (lastStatus == 407) done = true;
            } else {
                done = true;
            }
            // Server and proxy challenging by turns would go on for ever; the last challenge stands.
            if (!done && ++challenges > kMaxChallengeRounds) done = true;
        }
        lastStatus = response.status;
        if (!ok) done = true;
    }
    return ok;
}

bool MHttpClient::ReadBody(HttpHandle request, Deadline deadline, MHttpResponse& response) const {
    IHttpBackend& backend = *backend_;
    std::string& body = response.body;
    body.clear();
    for (;;) {
        // A body trickling in just fast enough to beat each wait still ends with the exchange's time.
        if (Expired(deadline)) {
            response.error = kOutOfTime;
            std::string().swap(body);
            return false;
        }
        // A body cut short (the connection lost halfway) fails the exchange: a part is not the answer. What
        // arrived stays in the response for the caller's diagnosis.
        uint32_t available = 0;
        if (!backend.QueryDataAvailable(request, &available)) {
            response.error = L"Error in WinHttpQueryDataAvailable: " + std::to_wstring(backend.LastError());
            return false;
        }
        if (available == 0) return true;
        if (available > kMaxBodyBytes - body.size()) {
            response.error = kBodyTooLarge;
            std::string().swap(body);
            return false;
        }
        // Read straight into the body, which grows by doubling but never beyond the limit.
        const size_t before = body.size();
        const size_t needed = before + available;
        if (needed > body.capacity()) {
            body.reserve(std::min<size_t>(kMaxBodyBytes, std::max(needed, body.capacity() * 2)));
        }
        body.resize(needed);
        uint32_t read = 0;
        if (backend.ReadData(request, &body[before], available, &read)) {
            // Only the bytes actually read belong to the body.
            body.resize(before + std::min(read, available));
        } else {
            body.resize(before);
            response.error = L"Error in WinHttpReadData: " + std::to_wstring(backend.LastError());
            return false;
        }
    }
}
