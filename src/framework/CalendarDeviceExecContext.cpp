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
    if (registry_) {
        registry_->Lock(Registry::kListLockFlag);
        registry_->Remove(this);
        registry_->Unlock(Registry::kListLockFlag);
    }
}

IExecContext* CalendarDeviceExecContext::Begin() {
    done_.Reset();
    return this;
}

intptr_t CalendarDeviceExecContext::Complete() {
    // Take the address before signalling: after Set the waiter may already have destroyed the context.
    intptr_t self = reinterpret_cast<intptr_t>(this);
    done_.Set();
    return self;
}

int CalendarDeviceExecContext::Wait(int milliseconds) {
    done_.Wait(milliseconds < 0 ? platform::kInfinite : static_cast<uint32_t>(milliseconds));
    return GetResult();
}
