// One calendar action: at `time`, start a host task or set a host variable.
#pragma once

#include <cstdint>
#include <string>

#include "framework/MIDoubleList.h"

class MCalendarEvent {
public:
    // Kinds of action that execute something; every other value is carried and does nothing.
    static constexpr int32_t kStartTask = 1;
    static constexpr int32_t kSetVariable = 2;

    // 100 ns units since 1601-01-01 00:00 of the local wall clock; 0 when the server gave no usable date,
    // which sorts the action before every dated one.
    uint64_t time = 0;
    std::string macro;  // task or variable name, possibly a whole "name=value" assignment
    int32_t macro_action = 0;
    std::string name;
    std::string macro_data;  // the value for kSetVariable
};

// Orders actions by time (unsigned); equal times are neither before nor after each other.
class EventCompare : public IListCompare<MCalendarEvent> {
public:
    bool Compare(MIDoubleList<MCalendarEvent>* list, MCalendarEvent* a, MCalendarEvent* b, bool reverse,
                 int context) override;
};

// Reads an action's "date" text ("YYYY-MM-DDThh:mm:ss", read as far as it fits that form, anything after
// ignored) as local wall-clock time into event->time. False, with `time` unchanged, when nothing could be
// read or the fields do not form a valid date and time. Any byte sequence is safe to pass.
bool ParseEventTime(const char* text, MCalendarEvent* event);
