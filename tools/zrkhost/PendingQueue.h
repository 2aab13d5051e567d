// The host's answers that come later: a call through the asynchronous remote is accepted as pending (21)
// and completed after a fixed delay from the host's own completion thread, or, on the main thread only,
// when it calls RunDue (as a host that completes calls on its UI thread does).
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "zrk/IExecContext.h"

namespace zrkhost {

class PendingQueue {
public:
    // The work of one call: returns the result code and fills the reply text.
    using Work = std::function<int(std::string* text)>;

    // onMainThread: no completion thread; the constructing thread completes the calls through RunDue.
    PendingQueue(unsigned delayMs, bool onMainThread = false);
    ~PendingQueue();
    PendingQueue(const PendingQueue&) = delete;
    PendingQueue& operator=(const PendingQueue&) = delete;

    // Begins the context, takes a reference on it and queues the work; the caller answers 21.
    void Post(IExecContext* context, Work work);
    // Whether the calling thread is the one that completes the calls (with onMainThread only): a call it
    // makes itself is answered at once.
    bool IsCompletingThread() const;
    // On the main thread: completes the calls due, then waits for more and completes them until `ms`
    // milliseconds have passed (0: only those due now). Returns the number of calls still queued.
    size_t RunDue(unsigned ms);
    // Ends the completion thread; calls not yet completed are dropped untouched (their owners are gone
    // by then). Returns the number dropped.
    size_t Shutdown();

private:
    struct Call {
        std::chrono::steady_clock::time_point due;
        IExecContext* context;
        IExecContext2* context2;  // null when the context offers no text
        Work work;
    };

    void Run();
    static void Finish(Call& call);

    const std::chrono::milliseconds delay_;
    const bool onMainThread_;
    const std::thread::id mainThread_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Call> calls_;  // in order of their due time: the delay is the same for all
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace zrkhost
