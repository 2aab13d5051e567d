// Mirrors the named items of one host user group into the calendar server's variables of one location:
// lists the group through the remote access, matches the items with the server's variables by name, and
// sends the creations, then the updates, then the deletions. Afterwards the store shows the host's view.
//
// A short-lived object: construct it, call Sync once, destroy it. Synchronisations may be started side by
// side (the device's and the setup dialog's): each lists the host's group on its own, then waits for its
// turn to read the server's list, compare and send, so that two never create the same variable. No turn
// is held across a host call. On a thread whose exchanges were cancelled it makes no further host call or
// request, and stops waiting for its turn.
#pragma once

#include <cstdint>

#include "calendar/CalendarVariableList.h"
#include "hostsync/IMRUserGroupIteratorCallback.h"

class KorrelRemote;
class MCalendarStore;
class MCalendarRESTClient;

class DBVariableSyncer : public IMRUserGroupIteratorCallback {
public:
    // None of the three is owned.
    DBVariableSyncer(KorrelRemote* remote, MCalendarStore* store, MCalendarRESTClient* client,
                     int32_t locationId);

    // Builds the record of one listed item: an enumeration with the host's item texts, or a plain
    // variable of that type. An enumeration the host cannot describe is left out.
    void OnItem(const char* name, int kind, int32_t context) override;
    // Deletes the records that never reached the store.
    virtual ~DBVariableSyncer();

    DBVariableSyncer(const DBVariableSyncer&) = delete;
    DBVariableSyncer& operator=(const DBVariableSyncer&) = delete;

    // One synchronisation of `group`, re-reading the server's variables first when `refreshFirst` is set.
    // False, with nothing sent and the store as it was, when the group name is empty, the host's listing
    // could not be had (a group without items is a listing) or the re-reading asked for failed (no answer,
    // a status other than 2xx, or an answer that does not read). Otherwise every request is sent and the
    // host's view handed to the store; false then tells that the server could not be reached or refused
    // one of the requests (no answer, or a status other than 2xx); the first request left unanswered
    // ends the sending.
    bool Sync(const char* group, bool refreshFirst);

    // The records built so far from the host's listing (they pass to the store with Sync).
    const CalendarVariableList& HostVariables() const { return hostVariables_; }

private:
    KorrelRemote* remote_;
    MCalendarStore* store_;
    MCalendarRESTClient* client_;
    CalendarVariableList hostVariables_;
    int32_t locationId_;
};
