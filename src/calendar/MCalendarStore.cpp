#include "calendar/MCalendarStore.h"

namespace {

// The variable list frees only its links when destroyed, so the records are deleted explicitly for every
// kind alike.
template <class List>
void DeleteList(List* list) {
    if (!list) return;
    list->DeleteAll();
    delete list;
}

}  // namespace

MCalendarStore::MCalendarStore() {
    variables_.current = new CalendarVariableList();
    events_.current = new CalendarEventList();
    locations_.current = new CalendarLocationList();
}

MCalendarStore::~MCalendarStore() {
    DeleteList(events_.current.load());
    DeleteList(locations_.current.load());
    DeleteList(variables_.current.load());
    for (auto* list : events_.retired) DeleteList(list);
    for (auto* list : locations_.retired) DeleteList(list);
    for (auto* list : variables_.retired) DeleteList(list);
}

void MCalendarStore::SetVariables(CalendarVariableList* list) {
    Replace(variables_, list);
}
void MCalendarStore::SetEvents(CalendarEventList* list) {
    Replace(events_, list);
}
void MCalendarStore::SetLocations(CalendarLocationList* list) {
    Replace(locations_, list);
}

// The old list is deleted under the lock, so no accessor on another thread can be walking it. An accessor
// on this very thread (the lock is recursive) may still point at it: then it is kept until that accessor
// ends.
template <class List>
void MCalendarStore::Replace(Slot<List>& slot, List* list) {
    if (!list) list = new List();
    platform::MLock guard(lock_);
    List* old = slot.current.load();
    if (old == list) return;
    slot.current = list;
    if (slot.readers > 0) {
        slot.retired.push_back(old);
    } else {
        DeleteList(old);
    }
}

template <class List>
void MCalendarStore::EndAccess(Slot<List>& slot) {
    if (--slot.readers == 0) {
        for (List* list : slot.retired) DeleteList(list);
        slot.retired.clear();
    }
    lock_.Leave();
}

// The accessors end their access from the header.
template void MCalendarStore::EndAccess(Slot<CalendarVariableList>& slot);
template void MCalendarStore::EndAccess(Slot<CalendarEventList>& slot);
template void MCalendarStore::EndAccess(Slot<CalendarLocationList>& slot);
