#include "framework/MAsyncDeviceExecContext.h"

MAsyncDeviceExecContext::MAsyncDeviceExecContext(IAsyncDeviceExecContextHandler* handler, Registry* registry)
    : MDefaultDeviceExecContext(nullptr), completionHandler_(handler), registry_(registry) {
    if (registry_) {
        registry_->Lock(Registry::kListLockFlag);
        registry_->Add(this);
        registry_->Unlock(Registry::kListLockFlag);
    }
}

MAsyncDeviceExecContext::~MAsyncDeviceExecContext() {
    if (registry_) {
        registry_->Lock(Registry::kListLockFlag);
        registry_->Remove(this);
        registry_->Unlock(Registry::kListLockFlag);
    }
}

intptr_t MAsyncDeviceExecContext::Complete() {
    IAsyncDeviceExecContextHandler* handler = completionHandler_.exchange(nullptr, std::memory_order_acq_rel);
    if (!handler) return Release();
    SetState(kCompleted);
    return handler->OnContextDone(this);
}
