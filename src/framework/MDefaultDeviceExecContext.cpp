#include "framework/MDefaultDeviceExecContext.h"

#include <cstring>

MDefaultDeviceExecContext::MDefaultDeviceExecContext(IAsyncDeviceExecContextHandler* handler)
    : handler_(handler) {}

MDefaultDeviceExecContext::~MDefaultDeviceExecContext() = default;

int MDefaultDeviceExecContext::QueryInterface(const char* name, void** out) {
    if (!name || !out) return kZrkNullArgument;
    *out = nullptr;
    if (std::strcmp(name, "IMInterface") == 0 || std::strcmp(name, "IExecContext2") == 0 ||
        std::strcmp(name, "IExecContext") == 0) {
        // One chain of single inheritance: all three interfaces share the context's address.
        *out = static_cast<IExecContext2*>(this);
    }
    return *out ? kZrkOk : kZrkUnknownInterface;
}

int MDefaultDeviceExecContext::Release() {
    if (refCount_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
    return 0;
}

int MDefaultDeviceExecContext::AddRef() {
    return refCount_.fetch_add(1, std::memory_order_relaxed) + 1;
}

IExecContext* MDefaultDeviceExecContext::SetResult(int code) {
    result_.store(code, std::memory_order_release);
    return this;
}

IExecContext* MDefaultDeviceExecContext::Begin() {
    SetState(kBegun);
    return this;
}

intptr_t MDefaultDeviceExecContext::Complete() {
    SetState(kCompleted);
    if (handler_) return handler_->OnContextDone(this);
    return reinterpret_cast<intptr_t>(this);
}

int MDefaultDeviceExecContext::ReservedA() {
    return 0;
}

int MDefaultDeviceExecContext::ReservedB() {
    return 0;
}

int MDefaultDeviceExecContext::ReservedC() {
    return 0;
}

int MDefaultDeviceExecContext::ReservedD(int, int, int) {
    return 0;
}

void MDefaultDeviceExecContext::SetText(const char* text) {
    text_.Set(text);
}

int MDefaultDeviceExecContext::GetState() {
    return state_.load(std::memory_order_acquire);
}
