#include "framework/CalendarDeviceExecContext.h"

#include <cstdint>

CalendarDeviceExecContext::CalendarDeviceExecContext(Registry* registry)
    : MDefaultDeviceExecContext(nullptr), registry_(registry) {
    if (registry_) {
        registry_->Lock(Registry::kListLockFlag);
        registry_->Add(this);
        registry_->Unlock(Registry::kListLockFlag);
    }
}

CalendarDeviceExecContext::~CalendarDeviceExecContext() {
    LeaveRegistry();
}

void CalendarDeviceExecContext::LeaveRegistry() {
    if (registry_) {
        registry_->Lock(Registry::kListLockFlag);
        registry_->Remove(this);
        registry_->Unlock(Registry::kListLockFlag);
        registry_ = nullptr;
    }
}

void CalendarDeviceExecContext::TakeHostReference() {
    AddRef();
    hostHolds_.store(true);
}

void CalendarDeviceExecContext::DropHostReference() {
    if (hostHolds_.exchange(false)) Release();
}

IExecContext* CalendarDeviceExecContext::Begin() {
    done_.Reset();
    return this;
}

intptr_t CalendarDeviceExecContext::Complete() {
    // Take the address before signalling: after Set the waiter may already have destroyed the context.
    intptr_t self = reinterpret_cast<intptr_t>(this);
    // The host's reference, read before signalling too: a context without one may be gone after Set; one
    // with it lives until it is dropped here (a requester that gave up on the call left it to this).
    const bool hostHeld = hostHolds_.exchange(false);
    done_.Set();
    if (hostHeld) Release();
    return self;
}

int CalendarDeviceExecContext::Wait(int milliseconds) {
    done_.Wait(milliseconds < 0 ? platform::kInfinite : static_cast<uint32_t>(milliseconds));
    return GetResult();
}
