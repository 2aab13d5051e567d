#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <unistd.h>

#include <cctype>

#include "platform/MachineNames.h"

namespace platform {

std::vector<std::string> MachineNames() {
    std::vector<std::string> names;
    char host[256] = "";
    if (gethostname(host, sizeof host - 1) == 0 && host[0] != '\0') {
        std::string name = host;
        for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        names.push_back(name);
    }
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return names;
    for (const ifaddrs* i = list; i; i = i->ifa_next) {
        if (!i->ifa_addr) continue;
        char text[INET6_ADDRSTRLEN] = "";
        if (i->ifa_addr->sa_family == AF_INET) {
            inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr, text,
                      sizeof text);
        } else if (i->ifa_addr->sa_family == AF_INET6) {
            inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(i->ifa_addr)->sin6_addr, text,
                      sizeof text);
        }
        if (text[0] != '\0') names.push_back(text);
    }
    freeifaddrs(list);
    return names;
}

}  // namespace platform
