// The framework's plain execution context: what the plug-in hands the host with a call that may take
// time. The host answers the call at once, or answers 21 (pending) and later marks the context begun,
// stores a result code and text in it and completes it, possibly from another thread.
#pragma once

#include <atomic>
#include <cstdint>

#include "framework/IAsyncDeviceExecContextHandler.h"
#include "framework/MString.h"
#include "zrk/IExecContext.h"

class MDefaultDeviceExecContext : public IExecContext2 {
public:
    enum State : int { kCreated = 0, kBegun = 1, kCompleted = 2 };

    // Result 0, empty text, state 0, one reference (the creator's). `handler` (not owned, may be null) is
    // told when the context completes.
    explicit MDefaultDeviceExecContext(IAsyncDeviceExecContextHandler* handler = nullptr);

    // Answers for "IMInterface", "IExecContext2" and "IExecContext" with the context itself, without
    // adding a reference.
    int ZRK_CALL QueryInterface(const char* name, void** out) override;
    // Drops one reference; the last one destroys the context. Answers 0.
    int ZRK_CALL Release() override;
    IExecContext* ZRK_CALL SetResult(int code) override;
    // State 1.
    IExecContext* ZRK_CALL Begin() override;
    // State 2, then the handler's OnContextDone; returns its result, or the context's address without
    // a handler. The state is set first: a handler may release the context.
    intptr_t ZRK_CALL Complete() override;
    int ZRK_CALL ReservedA() override;
    int ZRK_CALL ReservedB() override;
    // Returns the new count.
    int ZRK_CALL AddRef() override;
    int ZRK_CALL ReservedC() override;
    int ZRK_CALL ReservedD(int a, int b, int c) override;
    // A null text empties the text.
    void ZRK_CALL SetText(const char* text) override;
    int ZRK_CALL GetState() override;
    // Last slot of the table: the host never calls it, Release does.
    virtual ~MDefaultDeviceExecContext();

    int GetResult() const { return result_.load(std::memory_order_acquire); }
    // Read it only once the host has completed the context (or never went pending).
    const MString& GetText() const { return text_; }

    MDefaultDeviceExecContext(const MDefaultDeviceExecContext&) = delete;
    MDefaultDeviceExecContext& operator=(const MDefaultDeviceExecContext&) = delete;

protected:
    void SetState(State state) { state_.store(state, std::memory_order_release); }

private:
    IAsyncDeviceExecContextHandler* handler_;
    // A waiter that gives up (a timed Wait) may read the result while the host still writes it.
    std::atomic<int> result_{0};
    MString text_;
    std::atomic<int> state_{kCreated};
    std::atomic<int> refCount_{1};
};
