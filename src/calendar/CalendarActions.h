// Carrying out one calendar action through the host, and the device's eight status variables that show the
// last executed and the next due action and the refresh times.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "calendar/MCalendarEvent.h"

class IHostVariable;
class IZRKHostDevice;

// The two status groups: "LastEvent"/"LastEventTime"/"LastEventAction" and the same three for "Next".
enum class EventGroup { kLast, kNext };

// The status variables in the order the device looks them up.
enum StatusVariable : int {
    kStatusLastEvent = 0,
    kStatusLastEventTime,
    kStatusLastEventAction,
    kStatusNextEvent,
    kStatusNextEventTime,
    kStatusNextEventAction,
    kStatusNextRefreshTime,
    kStatusLastRefreshTime,
    kStatusVariableCount
};

// The host's names of the status variables, indexed by StatusVariable.
extern const char* const kStatusVariableNames[kStatusVariableCount];

// What an action asks of the host (the device's remote access).
class IActionTarget {
public:
    virtual int StartTask(const char* name) = 0;
    // `text` may be a whole "name=value" assignment, in which case `value` is ignored.
    virtual int SetVariable(const char* text, const char* value) = 0;

protected:
    ~IActionTarget() = default;
};

// Whole seconds since local midnight of an instant (milliseconds dropped), always below 86,400; 0 for an
// instant beyond the calendar's range.
uint32_t SecondsOfDay(uint64_t instant);

// "hh:mm:ss" of a count of seconds (hours not wrapped). Negative counts are shown as 00:00:00.
std::string FormatSecondsOfDay(int64_t seconds);

// What "LastEvent" and "NextEvent" show for an action: "name=value" for a variable action whose macro is
// not already an assignment, otherwise the macro itself; at most kMaxDisplayText bytes.
constexpr size_t kMaxDisplayText = 255;
std::string EventDisplayText(const MCalendarEvent& event);

// The action's kind as shown in "...EventAction"; null for a kind that executes nothing.
const char* EventActionText(int32_t macroAction);

class CalendarActions {
public:
    CalendarActions();
    CalendarActions(const CalendarActions&) = delete;
    CalendarActions& operator=(const CalendarActions&) = delete;

    // Replaces every handle by the host's answer for its name (null for a name the host lacks). A null
    // host object leaves the handles as they are.
    void LookUpVariables(IZRKHostDevice* hostDevice);
    void SetHandle(StatusVariable which, IHostVariable* variable);
    IHostVariable* GetHandle(StatusVariable which) const;

    // Starts the task or sets the variable the action names; other kinds do nothing. A null target or
    // event does nothing. The host's answer is not looked at: the action counts as executed either way.
    static void ExecuteAction(const MCalendarEvent* event, IActionTarget* target);

    // Writes the group's three variables for the action, or "None" and two empty texts without one.
    void UpdateEventVariables(const MCalendarEvent* event, EventGroup group);

    // Writes a time variable with the instant's time of day in hundredths of a second.
    void WriteTimeOfDay(StatusVariable which, uint64_t instant);

private:
    void WriteText(StatusVariable which, const char* text);

    // Looked up on a host thread (settings, setup), read by the worker.
    std::atomic<IHostVariable*> handles_[kStatusVariableCount];
};
