// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
// clang-format on

#include <cctype>

#include "platform/MachineNames.h"

namespace platform {

std::vector<std::string> MachineNames() {
    std::vector<std::string> names;
    char host[256] = "";
    DWORD size = sizeof host;
    if (GetComputerNameExA(ComputerNameDnsHostname, host, &size) && host[0] != '\0') {
        std::string name = host;
        for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        names.push_back(name);
    }
    // The adapters' list is asked for with a buffer that grows to the size the call reports.
    std::vector<unsigned char> buffer(16 * 1024);
    ULONG length = static_cast<ULONG>(buffer.size());
    const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
    ULONG result = ERROR_BUFFER_OVERFLOW;
    for (int attempt = 0; attempt < 3 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
        buffer.resize(length);
        result = GetAdaptersAddresses(AF_UNSPEC, flags, nullptr,
                                      reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &length);
    }
    if (result != NO_ERROR) return names;
    for (auto* a = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.data()); a; a = a->Next) {
        for (const IP_ADAPTER_UNICAST_ADDRESS* u = a->FirstUnicastAddress; u; u = u->Next) {
            const sockaddr* address = u->Address.lpSockaddr;
            char text[INET6_ADDRSTRLEN] = "";
            if (address->sa_family == AF_INET) {
                inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text,
                          sizeof text);
            } else if (address->sa_family == AF_INET6) {
                inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, text,
                          sizeof text);
            }
            if (text[0] != '\0') names.push_back(text);
        }
    }
    return names;
}

}  // namespace platform
