// A device's exchange thread: runs one exchange with the server at a time (a refresh, a synchronisation
// with its host calls) away from the thread that fires the actions, and tells the device when it has
// ended. Stop cancels the exchange in progress through the transport, so it returns promptly whatever
// the server does; a host call that the host itself leaves pending is still waited for.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>

#include "framework/IThreadHandler.h"
#include "framework/MThread.h"
#include "platform/Sync.h"
#include "server/HttpCancel.h"

class CalendarExchangeThread : public IThreadHandler {
public:
    // `onEnded` runs on the exchange thread after each piece of work.
    explicit CalendarExchangeThread(std::function<void()> onEnded);
    ~CalendarExchangeThread();
    CalendarExchangeThread(const CalendarExchangeThread&) = delete;
    CalendarExchangeThread& operator=(const CalendarExchangeThread&) = delete;

    // Starts the thread, idle; exchanges may be made again after a Stop.
    void Start();
    // Hands the thread its next piece of work; the previous one must have ended.
    void Post(std::function<void()> work);
    // Whether the work posted last has ended; true when none was posted.
    bool Ended() const { return ended_.load(); }
    // Ends the exchange in progress and fails every later one, without waiting.
    void Cancel() { cancel_.Cancel(); }
    // Whether Cancel (or Stop) was called since the last Start.
    bool Cancelled() { return cancel_.IsCancelled(); }
    // Cancel, then ends the thread and waits for it. Work not begun is dropped.
    void Stop();

    int Run(MThread* thread) override;

private:
    std::function<void()> onEnded_;
    HttpCancel cancel_;
    std::mutex lock_;  // guards work_
    std::function<void()> work_;
    std::atomic<bool> ended_{true};
    platform::MEvent wake_{false, false};
    MThread thread_{false, this};
};
