#include <limits.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "platform/Zone.h"

namespace platform {

std::string LocalZoneName() {
    // TZ names the zone when set (":Europe/Berlin" or "Europe/Berlin"); a rule such as "CET-1" is a name too.
    if (const char* tz = std::getenv("TZ")) {
        std::string name = tz;
        if (!name.empty() && name[0] == ':') name.erase(0, 1);
        const size_t zoneinfo = name.find("zoneinfo/");
        if (zoneinfo != std::string::npos) name.erase(0, zoneinfo + 9);
        if (!name.empty()) return name;
    }
    // /etc/localtime links into the zone database on most systems.
    char target[PATH_MAX];
    const ssize_t n = readlink("/etc/localtime", target, sizeof target - 1);
    if (n > 0) {
        const std::string path(target, static_cast<size_t>(n));
        const size_t zoneinfo = path.find("zoneinfo/");
        if (zoneinfo != std::string::npos) return path.substr(zoneinfo + 9);
    }
    std::ifstream file("/etc/timezone");
    std::string name;
    if (std::getline(file, name) && !name.empty()) return name;
    return std::string();
}

}  // namespace platform
