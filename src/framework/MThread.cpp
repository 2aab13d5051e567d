#include "framework/MThread.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace {

// The process-wide dispatcher: one thread that runs marshalled calls one at a time. It exists from the
// first start of a thread that uses it to the end of the last such thread; when the last user leaves,
// the dispatcher is asked to end, and it does so once its queue is empty unless a new user came meanwhile.
class Dispatcher {
public:
    ~Dispatcher() {
        // Library or process teardown: no code of ours may run after this.
        std::thread worker;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            shutdown_ = true;
            worker = std::move(thread_);
        }
        wake_.notify_all();
        if (worker.joinable() && worker.get_id() != std::this_thread::get_id()) worker.join();
        if (worker.joinable()) worker.detach();
    }

    void AddUser() {
        std::thread old;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ++users_;
            if (running_) return;
            old = std::move(thread_);
        }
        // The previous dispatcher has left its loop; its end is only a join away.
        if (old.joinable()) old.join();
        std::lock_guard<std::mutex> lock(mutex_);
        if (!running_ && users_ > 0 && !shutdown_) {
            running_ = true;
            pending_ = false;
            thread_ = std::thread([this] { Loop(); });
            id_ = thread_.get_id();
        }
    }

    void RemoveUser() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (users_ > 0) --users_;
            if (users_ != 0 || !running_) return;
            pending_ = true;
            quit_ = true;
        }
        wake_.notify_all();
    }

    // False when no dispatcher runs. On the dispatcher thread itself the call runs directly.
    bool Call(MThread::WindowCall function, void* argument, int* result) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!running_ || shutdown_) return false;
        if (std::this_thread::get_id() == id_) {
            lock.unlock();
            *result = function(argument);
            return true;
        }
        Item item{function, argument, 0, false};
        calls_.push_back(&item);
        wake_.notify_all();
        done_.wait(lock, [&] { return item.done; });
        *result = item.result;
        return true;
    }

    bool IsCurrent() {
        std::lock_guard<std::mutex> lock(mutex_);
        return running_ && std::this_thread::get_id() == id_;
    }

    bool Exists() {
        std::lock_guard<std::mutex> lock(mutex_);
        return running_;
    }

    // When the dispatcher's end is pending, gives it up to `milliseconds` to finish and collects it.
    void SettlePendingEnd(uint32_t milliseconds) {
        std::thread ended;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            if (!pending_) return;
            if (std::this_thread::get_id() == id_) return;
            finished_.wait_for(lock, std::chrono::milliseconds(milliseconds), [&] { return !running_; });
            pending_ = false;
            if (!running_) ended = std::move(thread_);
        }
        if (ended.joinable()) ended.join();
    }

private:
    struct Item {
        MThread::WindowCall function;
        void* argument;
        int result;
        bool done;
    };

    void Loop() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            wake_.wait(lock, [&] { return !calls_.empty() || quit_ || shutdown_; });
            if (!calls_.empty()) {
                Item* item = calls_.front();
                calls_.pop_front();
                lock.unlock();
                const int result = item->function(item->argument);
                lock.lock();
                item->result = result;
                item->done = true;
                done_.notify_all();
                continue;
            }
            if (shutdown_) break;
            quit_ = false;
            if (users_ == 0) break;  // a user who came back meanwhile keeps the dispatcher
        }
        running_ = false;
        pending_ = false;
        finished_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    std::condition_variable finished_;
    std::deque<Item*> calls_;
    std::thread thread_;
    std::thread::id id_;
    int users_ = 0;
    bool running_ = false;
    bool pending_ = false;
    bool quit_ = false;
    bool shutdown_ = false;
};

Dispatcher& TheDispatcher() {
    static Dispatcher dispatcher;
    return dispatcher;
}

// How long a destroyed object lets a pending dispatcher end finish.
constexpr uint32_t kPendingEndWait = 100;

int MapClass(unsigned priorityClass) {
    return priorityClass <= 6 ? static_cast<int>(priorityClass) : 3;
}

}  // namespace

MThread::MThread(IThreadHandler* handler) : MThread(true, handler) {}

MThread::MThread(bool usesWindow, IThreadHandler* handler) : handler_(handler), usesWindow_(usesWindow) {}

MThread::~MThread() {
    platform::ThreadRef handle = GetHandle();
    if (handle && !platform::ThreadIsCurrent(handle)) {
        Stop(false);
        platform::ThreadWaitExit(handle, platform::kInfinite);
    }
    if (usesWindow_) TheDispatcher().SettlePendingEnd(kPendingEndWait);
}

platform::ThreadRef MThread::GetHandle() const {
    platform::MLock lock(state_);
    return handle_;
}

bool MThread::Start(bool wait, uint32_t milliseconds) {
    {
        platform::MLock lock(state_);
        if (handle_) return true;
        startedEvent_.Reset();
        stopRequested_ = false;
        // Counted as a user before the thread exists, so that its end always has a use to give up.
        if (usesWindow_ && !windowUser_.exchange(true)) TheDispatcher().AddUser();
        // The thread's own end takes this lock, so it cannot clear the handle before it is stored.
        platform::ThreadRef handle = platform::ThreadCreate(&MThread::ThreadBody, this, stackSize_);
        if (!handle) {
            stopRequested_ = true;
            EndWindowUse();
            return false;
        }
        handle_ = handle;
        threadId_ = platform::ThreadSystemId(handle);
        platform::ThreadSetPriorityClass(handle, MapClass(static_cast<unsigned>(priorityClass_.load())));
    }
    if (wait) startedEvent_.Wait(milliseconds);
    return true;
}

void MThread::ThreadBody(void* self) {
    MThread* thread = static_cast<MThread*>(self);
    thread->running_ = true;
    thread->startedEvent_.Set();
    if (thread->handler_ != nullptr) {
        thread->handler_->Run(thread);
    } else {
        thread->Run();
    }
    thread->EndWindowUse();
    // Last touch of the object: once the handle is cleared the owner may destroy it.
    platform::MLock lock(thread->state_);
    thread->handle_.reset();
    thread->threadId_ = 0;
    thread->suspended_ = false;
    thread->stopRequested_ = true;
    thread->running_ = false;
}

void MThread::EndWindowUse() {
    if (windowUser_.exchange(false)) TheDispatcher().RemoveUser();
}

int MThread::Run() {
    return 0;
}

bool MThread::Stop(bool terminate) {
    // Resumed first: a thread stopped while holding the object's lock would keep GetHandle waiting.
    if (suspended_) Resume();
    platform::ThreadRef handle = GetHandle();
    if (!handle) return false;
    stopRequested_ = true;
    // No safe forced termination of one thread exists on this platform: the request is all we do.
    return !terminate;
}

void MThread::WaitForExit(uint32_t milliseconds) {
    platform::ThreadRef handle = GetHandle();
    // Waits whenever a thread exists, even one that has not reached its body yet.
    if (!handle || platform::ThreadIsCurrent(handle)) return;
    platform::ThreadWaitExit(handle, milliseconds);
}

bool MThread::Suspend() {
    platform::ThreadRef handle = GetHandle();
    if (!handle) return false;
    {
        platform::MLock lock(suspendLock_);
        if (suspended_) return true;
        suspended_ = true;
        suspendedHandle_ = handle;
    }
    // Outside the lock: a thread that suspends itself only returns once another thread resumed it.
    if (!platform::ThreadSuspend(handle)) {
        platform::MLock lock(suspendLock_);
        suspended_ = false;
        suspendedHandle_.reset();
        return false;
    }
    return true;
}

bool MThread::Resume() {
    platform::ThreadRef handle;
    {
        platform::MLock lock(suspendLock_);
        // The handle kept by Suspend, not GetHandle: the thread may stand still holding the object's lock.
        if (suspended_) handle = suspendedHandle_;
    }
    if (!handle) return GetHandle() != nullptr;
    int previous = 0;
    if (!platform::ThreadResume(handle, &previous) || previous == 0) return false;
    platform::MLock lock(suspendLock_);
    suspended_ = false;
    suspendedHandle_.reset();
    return true;
}

bool MThread::SetPriority(unsigned priorityClass) {
    priorityClass_ = static_cast<int>(priorityClass);
    platform::ThreadRef handle = GetHandle();
    if (!handle) return false;
    return platform::ThreadSetPriorityClass(handle, MapClass(priorityClass));
}

int MThread::GetPriority() {
    platform::ThreadRef handle = GetHandle();
    int priorityClass = 0;
    if (handle && platform::ThreadGetPriorityClass(handle, &priorityClass)) priorityClass_ = priorityClass;
    return priorityClass_;
}

bool MThread::SetPriorityBoost(bool enable) {
    platform::ThreadRef handle = GetHandle();
    return handle && platform::ThreadSetPriorityBoost(handle, enable);
}

bool MThread::IsPriorityBoostEnabled() {
    platform::ThreadRef handle = GetHandle();
    bool enabled = false;
    return handle && platform::ThreadIsPriorityBoostEnabled(handle, &enabled) && enabled;
}

int MThread::SetIdealProcessor(int processor) {
    platform::ThreadRef handle = GetHandle();
    if (!handle) return platform::kIdealProcessorQuery;
    return platform::ThreadSetIdealProcessor(handle, processor);
}

int MThread::CallInWindowThread(WindowCall function, void* argument) {
    if (!usesWindow_) return kNoWindow;
    if (function == nullptr) return 0;
    callEvent_.Set();
    int result = 0;
    if (stopRequested_ || !TheDispatcher().Call(function, argument, &result)) result = 0;
    callEvent_.Reset();
    return result;
}

bool MThread::IsWindowThread() {
    return TheDispatcher().IsCurrent();
}

bool MThread::WindowExists() {
    return TheDispatcher().Exists();
}
