// The calendar server's address as the user types it into the settings, any wide characters.
#include <fuzzer/FuzzedDataProvider.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cwchar>
#include <string>

#include "FuzzCheck.h"
#include "calendar/MCalendarStore.h"
#include "server/MCalendarRESTClient.h"

namespace {

// The port after the colon by the C library's own conversion, saturated to the 32-bit range.
int32_t ReferencePort(const std::wstring& text) {
    errno = 0;
    long long value = std::wcstoll(text.c_str(), nullptr, 10);
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    std::wstring url;
    bool prefixed = input.ConsumeBool();
    if (prefixed) url = L"http://";
    while (input.remaining_bytes() > 0 && url.size() < 300) {
        // Mostly the characters of addresses, now and then anything a wide character holds.
        if (input.ConsumeIntegralInRange<int>(0, 7) == 0)
            url += static_cast<wchar_t>(input.ConsumeIntegral<int32_t>());
        else
            url += static_cast<wchar_t>(input.ConsumeIntegralInRange<int>(0, 127));
    }
    // The client reads the address as the text it is, up to its first NUL.
    std::wstring text = url.c_str();

    MCalendarStore store;
    MCalendarRESTClient client(&store);
    client.SetServerURL(L"http://elsewhere:1234");
    client.SetServerURL(text);

    std::wstring rest = text.compare(0, 7, L"http://") == 0 ? text.substr(7) : text;
    size_t colon = rest.find(L':');
    std::wstring host = colon == std::wstring::npos ? rest : rest.substr(0, colon);
    int32_t port = MCalendarRESTClient::kDefaultPort;
    if (colon != std::wstring::npos && colon + 1 < rest.size()) port = ReferencePort(rest.substr(colon + 1));
    FUZZ_CHECK(client.GetHost() == host);
    FUZZ_CHECK(client.GetPort() == port);
    return 0;
}
