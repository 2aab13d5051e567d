#include "framework/MThreadTimer.h"

#include "platform/Clock.h"
#include "platform/ThreadPlatform.h"

MThreadTimer::MThreadTimer(int interval, uint32_t resolution)
    : MThread(false, nullptr), interval_(interval), resolution_(resolution) {
    platform::TimerResolutionBegin(resolution_);
}

MThreadTimer::~MThreadTimer() {
    // The pass loop runs this object's Run and walks the list: it must be over before either goes away.
    platform::ThreadRef handle = GetHandle();
    if (handle && !platform::ThreadIsCurrent(handle)) {
        Stop(false);
        WaitForExit(platform::kInfinite);
    }
    platform::MLock lock(lock_);
    platform::TimerResolutionEnd(resolution_);
}

uint32_t MThreadTimer::GetResolution() {
    platform::MLock lock(lock_);
    return resolution_;
}

int MThreadTimer::GetHandlerCount() {
    platform::MLock lock(lock_);
    return handlers_.GetCount();
}

void MThreadTimer::SetInterval(int interval, uint32_t resolution) {
    platform::MLock lock(lock_);
    interval_ = interval;
    if (resolution != resolution_) {
        platform::TimerResolutionEnd(resolution_);
        resolution_ = resolution;
        platform::TimerResolutionBegin(resolution_);
    }
}

void MThreadTimer::AddHandler(IThreadTimerHandler* handler) {
    platform::MLock lock(lock_);
    handlers_.Add(handler);
}

void MThreadTimer::RemoveHandler(IThreadTimerHandler* handler) {
    platform::MLock lock(lock_);
    handlers_.Remove(handler);
}

int MThreadTimer::Run() {
    while (!IsStopRequested()) {
        const uint32_t now = platform::TickCount();
        {
            platform::MLock lock(lock_);
            // The pass walks a copy, so a handler may add or remove handlers (itself included) while it is
            // called; each one is looked up again before its call so that a removed one stays silent.
            IThreadTimerHandler** pass = handlers_.ToArray();
            for (IThreadTimerHandler** h = pass; *h != nullptr; ++h) {
                if (handlers_.Locate(*h) == nullptr) continue;
                (*h)->OnTimer(now);
                if (IsStopRequested()) {
                    delete[] pass;
                    return 1;
                }
            }
            delete[] pass;
        }
        // The pause ends early only for a stop: the last device's end need not wait out an interval.
        const int interval = interval_.load();
        WaitForStopRequest(static_cast<uint32_t>(interval > 0 ? interval : 0));
    }
    return 1;
}
