#include "calendar/CalendarEventList.h"

CalendarEventList::~CalendarEventList() {
    DeleteAll();
}
