// The server's locations. Owns its records: destroying the list deletes them.
#pragma once

#include "calendar/MCalendarLocation.h"
#include "framework/MIDoubleList.h"

class CalendarLocationList : public MIDoubleList<MCalendarLocation> {
public:
    // No lock: a list is built by one thread and handed over whole (see MCalendarStore).
    CalendarLocationList() : MIDoubleList<MCalendarLocation>(false, nullptr) {}
    virtual ~CalendarLocationList();
};
