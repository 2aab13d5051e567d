// A thread that calls a list of tick handlers at a fixed interval (the process-wide timer of the devices).
// Its lock is held for a whole pass, so AddHandler and RemoveHandler from other threads wait for the pass
// to end and a handler is never removed while it is being called. A handler removed during a pass (by a
// handler of that pass) is not called again, and one added during a pass is first called in the next.
//
// The period of the passes is the interval plus the time the handlers take; no correction for drift is
// made. The timer resolution it asks for is held from construction to destruction.
//
// Destruction requests the stop and waits for the thread to end before the handler list goes away.
#pragma once

#include <atomic>
#include <cstdint>

#include "framework/IThreadTimerHandler.h"
#include "framework/MIDoubleList.h"
#include "framework/MThread.h"
#include "platform/Sync.h"

class MThreadTimer : public MThread {
public:
    MThreadTimer(int interval, uint32_t resolution);
    ~MThreadTimer() override;

    int Run() override;
    // Under the lock: stores the interval; moves the timer resolution when it differs.
    virtual void SetInterval(int interval, uint32_t resolution);
    virtual void AddHandler(IThreadTimerHandler* handler);
    virtual void RemoveHandler(IThreadTimerHandler* handler);

    int GetInterval() const { return interval_.load(); }
    uint32_t GetResolution();
    int GetHandlerCount();

private:
    MIDoubleList<IThreadTimerHandler> handlers_{false, nullptr};
    platform::MCriticalSection lock_;
    std::atomic<int> interval_;
    uint32_t resolution_;
};
