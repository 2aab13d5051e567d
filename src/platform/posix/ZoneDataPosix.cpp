#include "platform/ZoneData.h"

namespace platform {

std::string ShippedZoneDirectory() {
    return std::string();
}

}  // namespace platform
