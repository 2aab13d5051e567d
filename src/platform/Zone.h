// The name of the zone the local wall clock follows, for people reading the server's local times.
#pragma once

#include <string>

namespace platform {

// An IANA name ("Europe/Berlin") where the system gives one, else the system's own name of the zone;
// empty when it cannot be told.
std::string LocalZoneName();

}  // namespace platform
