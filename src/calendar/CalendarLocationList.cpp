#include "calendar/CalendarLocationList.h"

CalendarLocationList::~CalendarLocationList() {
    DeleteAll();
}
