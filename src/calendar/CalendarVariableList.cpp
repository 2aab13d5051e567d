#include "calendar/CalendarVariableList.h"

CalendarVariableList::~CalendarVariableList() = default;

void CalendarVariableList::DeleteAll() {
    for (MCalendarVariable* variable : *this) delete variable;
    clear();
}
