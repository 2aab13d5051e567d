// The context the calendar device hands the host with each of its requests: the requesting thread blocks
// in Wait until the host completes a call it answered as pending.
#pragma once

#include <atomic>
#include <cstdint>

#include "framework/MDefaultDeviceExecContext.h"
#include "framework/MIDoubleList.h"
#include "platform/Sync.h"

class CalendarDeviceExecContext : public MDefaultDeviceExecContext {
public:
    // The owner's list of its requests in progress; built with locking disabled, so the contexts take its
    // lock themselves.
    using Registry = MIDoubleList<CalendarDeviceExecContext>;

    // Completion signalled from the start, so Wait returns at once when the host never begins the call.
    // Joins `registry` (may be null) under its lock.
    explicit CalendarDeviceExecContext(Registry* registry = nullptr);
    // Leaves the registry under its lock.
    ~CalendarDeviceExecContext() override;

    // Unsignals the completion; the state is not changed.
    IExecContext* ZRK_CALL Begin() override;
    // Signals the completion; the state is not changed. Returns the context's address. The requesting
    // thread may destroy the context as soon as this has signalled.
    intptr_t ZRK_CALL Complete() override;

    // Waits at most `milliseconds` (a negative value: without limit) for the completion and returns the
    // result code.
    int Wait(int milliseconds);
    // Waits at most `milliseconds` for the completion; true when it came.
    bool WaitDone(uint32_t milliseconds) { return done_.Wait(milliseconds); }

    // For a context on the heap that its requester may give up waiting for: the host's reference, taken
    // before the call and dropped once, at Complete or by DropHostReference when the call was not left
    // pending. A context given up on thus lives until the host completes it.
    void TakeHostReference();
    void DropHostReference();
    // Leaves the registry now, under its lock, so that a context outliving its requester never touches it.
    void LeaveRegistry();

private:
    platform::MEvent done_{true, true};
    Registry* registry_;
    std::atomic<bool> hostHolds_{false};
};
