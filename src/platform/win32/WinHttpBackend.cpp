// Placeholder until the WinHTTP backend lands: every call fails as the platform fails a call it cannot
// make, so the exchange reports a connection error and nothing else changes.
#include "platform/HttpBackend.h"

namespace platform {
namespace {

class UnavailableHttpBackend final : public IHttpBackend {
public:
    HttpHandle Open(const std::wstring&) override { return nullptr; }
    HttpHandle Connect(HttpHandle, const std::wstring&, uint16_t) override { return nullptr; }
    HttpHandle OpenRequest(HttpHandle, const std::wstring&, const std::wstring&, uint32_t) override {
        return nullptr;
    }
    bool SetCredentials(HttpHandle, uint32_t, uint32_t, const std::wstring&, const std::wstring&) override {
        return false;
    }
    bool SendRequest(HttpHandle, const std::wstring&, const void*, uint32_t, uint32_t) override {
        return false;
    }
    bool ReceiveResponse(HttpHandle) override { return false; }
    bool QueryStatusCode(HttpHandle, uint32_t*) override { return false; }
    bool QueryRawHeaders(HttpHandle, wchar_t*, uint32_t*) override { return false; }
    bool QueryAuthSchemes(HttpHandle, uint32_t*, uint32_t*, uint32_t*) override { return false; }
    bool QueryDataAvailable(HttpHandle, uint32_t*) override { return false; }
    bool ReadData(HttpHandle, void*, uint32_t, uint32_t*) override { return false; }
    bool CloseHandle(HttpHandle) override { return false; }
    uint32_t LastError() override { return kErrorHttpInternal; }
};

}  // namespace

IHttpBackend& SystemHttpBackend() {
    static UnavailableHttpBackend backend;
    return backend;
}

}  // namespace platform
