#include "calendar/CalendarExchangeThread.h"

#include <utility>

CalendarExchangeThread::CalendarExchangeThread(std::function<void()> onEnded)
    : onEnded_(std::move(onEnded)) {}

CalendarExchangeThread::~CalendarExchangeThread() {
    Stop();
}

void CalendarExchangeThread::Start() {
    cancel_.Reset();
    {
        std::lock_guard<std::mutex> guard(lock_);
        work_ = nullptr;
    }
    ended_.store(true);
    thread_.Start(false);
}

void CalendarExchangeThread::Post(std::function<void()> work) {
    // Not ended before the thread can see the work, so that its end is never overwritten.
    ended_.store(false);
    {
        std::lock_guard<std::mutex> guard(lock_);
        work_ = std::move(work);
    }
    wake_.Set();
}

void CalendarExchangeThread::Stop() {
    cancel_.Cancel();
    thread_.Stop(false);
    wake_.Set();
    thread_.WaitForExit(platform::kInfinite);
}

int CalendarExchangeThread::Run(MThread* thread) {
    // Every exchange this thread makes can be cancelled by Stop.
    HttpCancel::ThreadScope scope(&cancel_);
    while (!thread->IsStopRequested()) {
        wake_.Wait(platform::kInfinite);
        std::function<void()> work;
        {
            std::lock_guard<std::mutex> guard(lock_);
            work.swap(work_);
        }
        if (!work || thread->IsStopRequested()) continue;
        work();
        ended_.store(true);
        if (onEnded_) onEnded_();
    }
    return 1;
}
