// The module-wide holder of the three current calendar lists. Each list handed over with a setter replaces
// the previous one, which the store deletes together with its records.
//
// Two ways to read a list:
//  - Get...: the plain pointer, valid until the next Set... of the same kind. Only for the thread that
//    itself replaces that list (the worker with its events, the dialog with its locations).
//  - Access...: a scoped accessor that holds the store's lock while it lives. Any thread may walk the list
//    through it; a replaced list is never deleted while an accessor can still be reading it. Keep the
//    accessor short-lived: it blocks every setter meanwhile.
#pragma once

#include <atomic>
#include <vector>

#include "calendar/CalendarEventList.h"
#include "calendar/CalendarLocationList.h"
#include "calendar/CalendarVariableList.h"
#include "platform/Sync.h"

class MCalendarStore {
    template <class List>
    struct Slot {
        std::atomic<List*> current{nullptr};
        int readers = 0;             // live accessors of this kind (all on the lock's holder thread)
        std::vector<List*> retired;  // replaced while an accessor still pointed at them
    };

public:
    template <class List>
    class ListAccess {
    public:
        ~ListAccess() { store_->EndAccess(*slot_); }
        ListAccess(const ListAccess&) = delete;
        ListAccess& operator=(const ListAccess&) = delete;

        List* get() const { return list_; }
        List* operator->() const { return list_; }
        List& operator*() const { return *list_; }

    private:
        friend class MCalendarStore;
        ListAccess(MCalendarStore* store, Slot<List>* slot) : store_(store), slot_(slot) {
            store_->lock_.Enter();
            ++slot_->readers;
            list_ = slot_->current.load();
        }

        MCalendarStore* store_;
        Slot<List>* slot_;
        List* list_;
    };

    MCalendarStore();
    ~MCalendarStore();
    MCalendarStore(const MCalendarStore&) = delete;
    MCalendarStore& operator=(const MCalendarStore&) = delete;

    // Ownership of the new list passes to the store. A null list installs an empty one, so the store always
    // holds three lists; handing over the current list again changes nothing.
    void SetVariables(CalendarVariableList* list);
    void SetEvents(CalendarEventList* list);
    void SetLocations(CalendarLocationList* list);

    CalendarVariableList* GetVariables() const { return variables_.current.load(); }
    CalendarEventList* GetEvents() const { return events_.current.load(); }
    CalendarLocationList* GetLocations() const { return locations_.current.load(); }

    ListAccess<CalendarVariableList> AccessVariables() {
        return ListAccess<CalendarVariableList>(this, &variables_);
    }
    ListAccess<CalendarEventList> AccessEvents() { return ListAccess<CalendarEventList>(this, &events_); }
    ListAccess<CalendarLocationList> AccessLocations() {
        return ListAccess<CalendarLocationList>(this, &locations_);
    }

private:
    template <class List>
    void Replace(Slot<List>& slot, List* list);
    template <class List>
    void EndAccess(Slot<List>& slot);

    Slot<CalendarVariableList> variables_;
    Slot<CalendarEventList> events_;
    Slot<CalendarLocationList> locations_;
    platform::MCriticalSection lock_;
};
