// Server or host variables (plain and enumerated). Unlike the other calendar lists it does NOT delete its
// records when destroyed, so working lists may share records with the store's list; DeleteAll is the
// explicit way to delete them.
#pragma once

#include <list>

#include "calendar/MCalendarVariable.h"

class CalendarVariableList : public std::list<MCalendarVariable*> {
public:
    CalendarVariableList() = default;
    virtual ~CalendarVariableList();

    // Deletes every record (through its virtual destructor) and empties the list.
    void DeleteAll();
};
