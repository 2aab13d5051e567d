#include "framework/MThread.h"

#include "platform/CallWindow.h"

namespace {

// How long a destroyed object lets a pending dispatcher end finish.
constexpr uint32_t kPendingEndWait = 100;

int MapClass(unsigned priorityClass) {
    return priorityClass <= 6 ? static_cast<int>(priorityClass) : 3;
}

}  // namespace

MThread::MThread(IThreadHandler* handler) : MThread(true, handler) {}

MThread::MThread(bool usesWindow, IThreadHandler* handler) : handler_(handler), usesWindow_(usesWindow) {}

MThread::~MThread() {
    platform::ThreadRef last = LastThread();
    if (last && !platform::ThreadIsCurrent(last)) {
        Stop(false);
        platform::ThreadWaitExit(last, platform::kInfinite);
    }
    if (usesWindow_) platform::CallWindowSettlePendingEnd(kPendingEndWait);
}

platform::ThreadRef MThread::GetHandle() const {
    platform::MLock lock(state_);
    return handle_;
}

platform::ThreadRef MThread::LastThread() const {
    platform::MLock lock(state_);
    return last_;
}

bool MThread::Start(bool wait, uint32_t milliseconds) {
    {
        platform::MLock lock(state_);
        if (handle_) return true;
        // A previous thread has let go of the object and is on its way out: it leaves first, so that the
        // waits, which only know the newest thread, never miss it.
        if (last_ && !platform::ThreadIsCurrent(last_)) platform::ThreadWaitExit(last_, platform::kInfinite);
        startedEvent_.Reset();
        stopRequested_ = false;
        stopEvent_.Reset();
        // Counted as a user before the thread exists, so that its end always has a use to give up.
        if (usesWindow_ && !windowUser_.exchange(true)) platform::CallWindowAddUser();
        // The thread's own end takes this lock, so it cannot clear the handle before it is stored.
        platform::ThreadRef handle = platform::ThreadCreate(&MThread::ThreadBody, this, stackSize_);
        if (!handle) {
            stopRequested_ = true;
            EndWindowUse();
            return false;
        }
        handle_ = handle;
        last_ = handle;
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
    thread->stopEvent_.Set();
    thread->running_ = false;
}

void MThread::EndWindowUse() {
    if (windowUser_.exchange(false)) platform::CallWindowRemoveUser();
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
    stopEvent_.Set();
    if (!terminate) return true;
    {
        // Under the lock the thread cannot be inside its own end, which takes it: it is ended either
        // before that or not at all.
        platform::MLock lock(state_);
        if (handle_ != handle) return true;  // it ended by itself meanwhile
        if (!platform::ThreadTerminate(handle)) return false;
        // The body never reaches its end, so what it would have done there is done here.
        handle_.reset();
        threadId_ = 0;
        suspended_ = false;
        running_ = false;
    }
    EndWindowUse();
    return true;
}

void MThread::WaitForExit(uint32_t milliseconds) {
    // The last thread, even one that has already cleared handle_ (or not reached its body yet): the wait
    // ends when the system has ended the thread.
    platform::ThreadRef last = LastThread();
    if (!last || platform::ThreadIsCurrent(last)) return;
    platform::ThreadWaitExit(last, milliseconds);
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
    if (stopRequested_ || !platform::CallWindowCall(function, argument, &result)) result = 0;
    callEvent_.Reset();
    return result;
}

bool MThread::IsWindowThread() {
    return platform::CallWindowIsCurrent();
}

bool MThread::WindowExists() {
    return platform::CallWindowExists();
}
