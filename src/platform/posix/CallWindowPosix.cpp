// The call window on POSIX: a thread with a queue in place of the window and its message loop.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/CallWindow.h"

namespace platform {
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

    // The last user waits for the dispatcher's end (unless it is the dispatcher itself, or a user came back
    // meanwhile and keeps it), so that nothing of it runs once the last thread that used it has ended.
    void RemoveUser() {
        std::thread ended;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            if (users_ > 0) --users_;
            if (users_ != 0 || !running_) return;
            pending_ = true;
            quit_ = true;
            wake_.notify_all();
            if (std::this_thread::get_id() == id_) return;
            finished_.wait(lock, [&] { return !running_ || users_ > 0; });
            if (!running_) ended = std::move(thread_);
        }
        if (ended.joinable()) ended.join();
    }

    // False when no dispatcher runs. On the dispatcher thread itself the call runs directly.
    bool Call(CallWindowFunction function, void* argument, int* result) {
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
        CallWindowFunction function;
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

}  // namespace

void CallWindowAddUser() {
    TheDispatcher().AddUser();
}

void CallWindowRemoveUser() {
    TheDispatcher().RemoveUser();
}

bool CallWindowCall(CallWindowFunction function, void* argument, int* result) {
    return TheDispatcher().Call(function, argument, result);
}

bool CallWindowIsCurrent() {
    return TheDispatcher().IsCurrent();
}

bool CallWindowExists() {
    return TheDispatcher().Exists();
}

void CallWindowSettlePendingEnd(uint32_t milliseconds) {
    TheDispatcher().SettlePendingEnd(milliseconds);
}

}  // namespace platform
