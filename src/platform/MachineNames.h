// The names and addresses by which this machine may be reached: for a server that answers only to
// requests naming it.
#pragma once

#include <string>
#include <vector>

namespace platform {

// This machine's host name and the addresses of its network interfaces (IPv4 dotted, IPv6 without
// brackets or zone), in lower case; empty when none can be read.
std::vector<std::string> MachineNames();

}  // namespace platform
