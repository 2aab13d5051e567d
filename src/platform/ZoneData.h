// Where the calendar server reads the IANA zone data (TZif files, zone.tab) for the zones its calendars
// name: on Windows, which keeps none, the zoneinfo folder shipped beside the program; elsewhere the system's
// own (empty: the iCalendar library finds it itself).
#pragma once

#include <string>

namespace platform {

std::string ShippedZoneDirectory();

}  // namespace platform
