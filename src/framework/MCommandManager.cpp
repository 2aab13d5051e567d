#include "framework/MCommandManager.h"

#include "framework/MThread.h"
#include "platform/Clock.h"

namespace {

// A command is started at most this many times.
constexpr int kMaxStarts = 2;

}  // namespace

MCommandManager::MCommandManager(int defaultTimeout, bool immediate, bool holdLockWhileExecuting)
    : defaultTimeout_(defaultTimeout), immediate_(immediate), holdLock_(holdLockWhileExecuting) {}

MCommandManager::~MCommandManager() {
    Flush();
}

uint32_t MCommandManager::StartTimeNow() {
    // 0 means "not started": a start that falls on clock reading 0 is kept as 1, or it would never time out.
    const uint32_t now = platform::TickCount();
    return now != 0 ? now : 1;
}

bool MCommandManager::WaitForCommand(uint32_t milliseconds) {
    return event_.Wait(milliseconds);
}

void MCommandManager::SignalCommand() {
    event_.Set();
}

MCommandObject* MCommandManager::TakeOldest() {
    platform::MLock lock(queueLock_);
    if (queue_.empty()) return nullptr;
    MCommandObject* command = queue_.front();
    queue_.pop_front();
    return command;
}

uint32_t MCommandManager::GetQueueLength() {
    platform::MLock lock(queueLock_);
    return static_cast<uint32_t>(queue_.size());
}

int MCommandManager::FetchNextCommand() {
    platform::MLock lock(lock_);
    event_.Reset();
    if (current_ != nullptr) return -3;
    current_ = TakeOldest();
    return current_ != nullptr ? 0 : -2;
}

void MCommandManager::RunCurrentAndLeave(MCommandObject* command) {
    if (holdLock_) {
        ExecuteCommand(command);
        lock_.Leave();
    } else {
        lock_.Leave();
        ExecuteCommand(command);
    }
}

int MCommandManager::ExecuteCurrent() {
    lock_.Enter();
    MCommandObject* command = current_;
    if (command == nullptr) {
        lock_.Leave();
        return -2;
    }
    startTime_ = StartTimeNow();
    RunCurrentAndLeave(command);
    return 0;
}

int MCommandManager::CompleteCurrent() {
    int result = -2;
    {
        platform::MLock lock(lock_);
        if (current_ != nullptr) {
            startTime_ = 0;
            delete current_;
            current_ = nullptr;
            result = 0;
        }
    }
    if (GetQueueLength() != 0) event_.Set();
    return result;
}

int MCommandManager::ResetSignalIfCurrent() {
    platform::MLock lock(lock_);
    if (current_ == nullptr) return -2;
    event_.Reset();
    return 0;
}

int MCommandManager::ExecuteNow(MCommandObject* command) {
    if (command == nullptr) return -1;
    if (command->GetTimeout() == 0) command->SetTimeout(defaultTimeout_);
    if (!lock_.TryEnter()) return -3;
    if (current_ != nullptr || GetQueueLength() != 0) {
        lock_.Leave();
        return -3;
    }
    current_ = command;
    startTime_ = StartTimeNow();
    RunCurrentAndLeave(command);
    return 1;
}

int MCommandManager::PostCommand(MCommandObject* command) {
    if (command == nullptr) return -1;
    if (command->GetTimeout() == 0) command->SetTimeout(defaultTimeout_);
    if (immediate_ && ExecuteNow(command) == 1) return 1;

    MCommandObject* dropped = nullptr;
    {
        platform::MLock lock(queueLock_);
        if (queue_.size() > maxQueueLength_) {
            dropped = queue_.front();
            queue_.pop_front();
        }
        queue_.push_back(command);
    }
    event_.Set();
    // Destroyed outside the queue's lock: its destructor releases the command's own lock.
    delete dropped;
    return dropped != nullptr ? 3 : 2;
}

bool MCommandManager::IsCurrentTimedOut(MCommandObject** out) {
    if (!lock_.TryEnter()) return false;
    if (current_ == nullptr) {
        if (out) *out = nullptr;
        lock_.Leave();
        return false;
    }
    if (out) *out = current_;
    const uint32_t timeout = static_cast<uint32_t>(current_->GetTimeout());
    const bool timedOut = startTime_ != 0 && timeout != 0 && platform::TickCount() - startTime_ >= timeout;
    if (timedOut && out != nullptr) return true;
    lock_.Leave();
    return false;
}

bool MCommandManager::ExecuteCommand(MCommandObject*) {
    return true;
}

void MCommandManager::SetMaxQueueLength(uint32_t length) {
    platform::MLock lock(queueLock_);
    maxQueueLength_ = length;
}

uint32_t MCommandManager::GetMaxQueueLength() {
    platform::MLock lock(queueLock_);
    return maxQueueLength_;
}

MCommandObject* MCommandManager::LockCurrent() {
    lock_.Enter();
    if (current_ != nullptr) return current_;
    lock_.Leave();
    return nullptr;
}

void MCommandManager::Unlock() {
    lock_.Leave();
}

void MCommandManager::Flush() {
    std::deque<MCommandObject*> waiting;
    platform::MLock lock(lock_);
    {
        platform::MLock queueLock(queueLock_);
        waiting.swap(queue_);
    }
    for (MCommandObject* command : waiting) delete command;
    delete current_;
    current_ = nullptr;
    startTime_ = 0;
}

int MCommandManager::ExecutePending(const MThread* thread) {
    int started = 0;
    while (thread == nullptr || !thread->IsStopRequested()) {
        if (FetchNextCommand() != 0) break;
        ExecuteCurrent();
        ++started;
    }
    return started;
}

void MCommandManager::WatchdogPass() {
    MCommandObject* command = nullptr;
    if (!IsCurrentTimedOut(&command)) return;
    if (command->AddAttempt() < kMaxStarts) {
        ExecuteCurrent();
        Unlock();
        return;
    }
    Unlock();
    CompleteCurrent();
    if (FetchNextCommand() == 0) ExecuteCurrent();
}
