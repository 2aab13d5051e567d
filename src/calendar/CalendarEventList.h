// The calendar actions of one location, kept in ascending time once sorted with EventCompare. Owns its
// records: destroying the list deletes them.
#pragma once

#include "calendar/MCalendarEvent.h"
#include "framework/MIDoubleList.h"

class CalendarEventList : public MIDoubleList<MCalendarEvent> {
public:
    // No lock: a list is built by one thread and handed over whole (see MCalendarStore).
    CalendarEventList() : MIDoubleList<MCalendarEvent>(false, nullptr) {}
    virtual ~CalendarEventList();
};
