// A backend that plays a script of responses, one per send, and logs every call it receives.
#pragma once

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/HttpBackend.h"

struct FakeChunk {
    std::string data;
    bool availableFails = false;  // the availability query fails (and reports nothing)
    bool readFails = false;
    uint32_t readShort = 0;  // the read delivers this many bytes fewer than asked
};

struct FakeResponse {
    bool sendOk = true;
    uint32_t sendError = platform::kErrorHttpCannotConnect;
    bool receiveOk = true;
    uint32_t receiveError = platform::kErrorHttpTimeout;
    bool statusOk = true;
    uint32_t status = 200;
    std::wstring headers = L"HTTP/1.1 200 OK\r\n\r\n";
    uint32_t headerSizeError = platform::kErrorInsufficientBuffer;
    bool headersOk = true;
    bool schemesOk = true;
    uint32_t supported = 0;
    uint32_t target = platform::kHttpAuthTargetServer;
    std::vector<FakeChunk> body;
    std::string endless;       // when set, offered again and again after the chunks: a body without end
    uint32_t readDelayMs = 0;  // each read waits this long first: a body trickling in
};

inline FakeResponse Answer(uint32_t status, std::string body = std::string(), uint32_t supported = 0) {
    FakeResponse r;
    r.status = status;
    r.headers = L"HTTP/1.1 " + std::to_wstring(status) + L" X\r\n\r\n";
    if (!body.empty()) r.body.push_back(FakeChunk{body});
    r.supported = supported;
    r.target = status == 407 ? platform::kHttpAuthTargetProxy : platform::kHttpAuthTargetServer;
    return r;
}

class FakeHttpBackend : public platform::IHttpBackend {
public:
    std::vector<FakeResponse> script;  // consumed from the front, one per send
    bool openOk = true;
    bool connectOk = true;
    bool openRequestOk = true;
    bool setCredentialsOk = true;
    // Every call in order, as short texts.
    std::vector<std::string> calls;
    // What each send carried.
    std::vector<std::wstring> sentHeaders;
    std::vector<std::string> sentBodies;
    // Runs inside each send, before it answers (a test cancels from there).
    std::function<void()> duringSend;

    int Count(const std::string& prefix) const {
        int n = 0;
        for (const std::string& c : calls) n += c.compare(0, prefix.size(), prefix) == 0;
        return n;
    }

    platform::HttpHandle Open(const std::wstring& agent) override {
        calls.push_back("Open " + Narrow(agent));
        return openOk ? &session_ : Fail(platform::kErrorHttpInternal);
    }
    platform::HttpHandle Connect(platform::HttpHandle, const std::wstring& host, uint16_t port) override {
        calls.push_back("Connect " + Narrow(host) + ":" + std::to_string(port));
        return connectOk ? &connection_ : Fail(platform::kErrorInvalidParameter);
    }
    platform::HttpHandle OpenRequest(platform::HttpHandle, const std::wstring& method,
                                     const std::wstring& path, uint32_t flags) override {
        char f[16];
        std::snprintf(f, sizeof f, "%#x", flags);
        calls.push_back("OpenRequest " + Narrow(method) + " " + Narrow(path) + " " + f);
        return openRequestOk ? &request_ : Fail(platform::kErrorHttpInternal);
    }
    bool SetCredentials(platform::HttpHandle h, uint32_t target, uint32_t scheme, const std::wstring& user,
                        const std::wstring& password) override {
        calls.push_back(std::string("SetCredentials ") + (target ? "proxy " : "server ") +
                        std::to_string(scheme) + " " + Narrow(user) + "/" + Narrow(password));
        if (Cancelled(h)) return false;
        if (!setCredentialsOk) error_ = platform::kErrorInvalidParameter;
        return setCredentialsOk;
    }
    bool SendRequest(platform::HttpHandle h, const std::wstring& headers, const void* optional,
                     uint32_t optionalLength, uint32_t totalLength) override {
        calls.push_back("Send");
        sentHeaders.push_back(headers);
        sentBodies.push_back(optional ? std::string(static_cast<const char*>(optional), optionalLength) : "");
        totals_.push_back(totalLength);
        if (duringSend) duringSend();
        if (Cancelled(h)) return false;
        if (script.empty()) return Failed(platform::kErrorHttpCannotConnect);
        current_ = script.front();
        script.erase(script.begin());
        chunk_ = 0;
        return current_.sendOk ? true : Failed(current_.sendError);
    }
    bool ReceiveResponse(platform::HttpHandle h) override {
        calls.push_back("Receive");
        if (Cancelled(h)) return false;
        return current_.receiveOk ? true : Failed(current_.receiveError);
    }
    bool QueryStatusCode(platform::HttpHandle h, uint32_t* status) override {
        calls.push_back("QueryStatus");
        if (Cancelled(h)) return false;
        if (!current_.statusOk) return Failed(platform::kErrorHttpHeaderNotFound);
        *status = current_.status;
        return true;
    }
    bool QueryRawHeaders(platform::HttpHandle h, wchar_t* buffer, uint32_t* bytes) override {
        calls.push_back(buffer ? "QueryHeaders" : "QueryHeaderSize");
        if (Cancelled(h)) return false;
        const uint32_t needed = static_cast<uint32_t>((current_.headers.size() + 1) * sizeof(wchar_t));
        if (!buffer) {
            *bytes = needed;
            return Failed(current_.headerSizeError);
        }
        if (!current_.headersOk) return Failed(platform::kErrorHttpHeaderNotFound);
        if (*bytes < needed) return Failed(platform::kErrorInsufficientBuffer);
        std::memcpy(buffer, current_.headers.c_str(), needed);
        *bytes = needed - sizeof(wchar_t);
        return true;
    }
    bool QueryAuthSchemes(platform::HttpHandle h, uint32_t* supported, uint32_t* first,
                          uint32_t* target) override {
        calls.push_back("QuerySchemes");
        if (Cancelled(h)) return false;
        if (!current_.schemesOk) return Failed(platform::kErrorInvalidOperation);
        *supported = current_.supported;
        *first = current_.supported & (0u - current_.supported);
        *target = current_.target;
        return true;
    }
    bool QueryDataAvailable(platform::HttpHandle h, uint32_t* available) override {
        calls.push_back("Available");
        if (Cancelled(h)) return false;
        if (chunk_ >= current_.body.size()) {
            *available = static_cast<uint32_t>(current_.endless.size());
            return true;
        }
        if (current_.body[chunk_].availableFails) {
            ++chunk_;
            return Failed(platform::kErrorHttpConnectionError);
        }
        *available = static_cast<uint32_t>(current_.body[chunk_].data.size());
        return true;
    }
    bool ReadData(platform::HttpHandle h, void* buffer, uint32_t toRead, uint32_t* read) override {
        calls.push_back("Read");
        if (Cancelled(h)) return false;
        if (current_.readDelayMs)
            std::this_thread::sleep_for(std::chrono::milliseconds(current_.readDelayMs));
        const FakeChunk endless{current_.endless};
        const FakeChunk& c = chunk_ < current_.body.size() ? current_.body[chunk_++] : endless;
        if (c.readFails) return Failed(platform::kErrorHttpConnectionError);
        *read = std::min<uint32_t>(toRead, static_cast<uint32_t>(c.data.size())) - c.readShort;
        std::memcpy(buffer, c.data.data(), *read);
        return true;
    }
    bool CloseHandle(platform::HttpHandle handle) override {
        calls.push_back(handle == &request_      ? "Close request"
                        : handle == &connection_ ? "Close connection"
                        : handle == &session_    ? "Close session"
                                                 : "Close ?");
        return true;
    }
    uint32_t LastError() override { return error_; }
    // May come from another thread: only the flag is shared.
    void CancelRequest(platform::HttpHandle h) override {
        if (h == &request_) cancelled_ = true;
    }
    bool WasCancelled() const { return cancelled_; }

    std::vector<uint32_t> totals_;

private:
    static std::string Narrow(const std::wstring& w) { return std::string(w.begin(), w.end()); }
    platform::HttpHandle Fail(uint32_t code) {
        error_ = code;
        return nullptr;
    }
    bool Failed(uint32_t code) {
        error_ = code;
        return false;
    }
    bool Cancelled(platform::HttpHandle h) {
        if (h != &request_ || !cancelled_) return false;
        error_ = platform::kErrorHttpOperationCancelled;
        return true;
    }

    int session_ = 0, connection_ = 0, request_ = 0;
    uint32_t error_ = 0;
    std::atomic<bool> cancelled_{false};
    size_t chunk_ = 0;
    FakeResponse current_;
};
