// A location of the calendar server: one of the places whose calendar the server keeps.
#pragma once

#include <cstdint>
#include <string>

class MCalendarLocation {
public:
    int32_t location_id = 0;  // 0 when the server gave none
    std::string name;         // UTF-8, shown in the setup dialog's location list
    std::string comment;      // kept, not shown
};
