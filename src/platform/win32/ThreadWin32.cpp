// Win32 threads for the framework: the seven priority classes are the platform's own thread priorities.
#include <windows.h>
// After windows.h, whose types it uses.
#include <mmsystem.h>

#include <map>

#include "platform/Clock.h"
#include "platform/Sync.h"
#include "platform/ThreadPlatform.h"

namespace platform {

class ThreadHandle {
public:
    ThreadHandle() = default;
    ~ThreadHandle() {
        if (thread != nullptr) CloseHandle(thread);
    }
    ThreadHandle(const ThreadHandle&) = delete;
    ThreadHandle& operator=(const ThreadHandle&) = delete;

    ThreadEntry entry = nullptr;
    void* argument = nullptr;
    HANDLE thread = nullptr;
    DWORD id = 0;
    MCriticalSection mutex;  // guards `suspended` (not a std::mutex, which this toolchain never destroys)
    bool suspended = false;
};

namespace {

const int kClassPriority[7] = {THREAD_PRIORITY_IDLE,         THREAD_PRIORITY_LOWEST,
                               THREAD_PRIORITY_BELOW_NORMAL, THREAD_PRIORITY_NORMAL,
                               THREAD_PRIORITY_ABOVE_NORMAL, THREAD_PRIORITY_HIGHEST,
                               THREAD_PRIORITY_TIME_CRITICAL};

DWORD WINAPI Trampoline(LPVOID argument) {
    // The thread's own reference keeps the handle alive until the entry has returned.
    ThreadRef* own = static_cast<ThreadRef*>(argument);
    ThreadRef handle = *own;
    delete own;
    handle->entry(handle->argument);
    return 0;
}

bool Ended(const ThreadRef& thread) {
    return WaitForSingleObject(thread->thread, 0) == WAIT_OBJECT_0;
}

MCriticalSection g_resolutionMutex;
std::map<uint32_t, int> g_resolutionRequests;

}  // namespace

ThreadRef ThreadCreate(ThreadEntry entry, void* argument, uint32_t stackSize) {
    if (entry == nullptr) return nullptr;
    ThreadRef handle = std::make_shared<ThreadHandle>();
    handle->entry = entry;
    handle->argument = argument;
    ThreadRef* own = new ThreadRef(handle);
    // Created suspended so that the handle and id are stored before the entry can ask for them.
    DWORD id = 0;
    HANDLE thread =
        CreateThread(nullptr, stackSize, Trampoline, own,
                     CREATE_SUSPENDED | (stackSize != 0 ? STACK_SIZE_PARAM_IS_A_RESERVATION : 0), &id);
    if (thread == nullptr) {
        delete own;
        return nullptr;
    }
    handle->thread = thread;
    handle->id = id;
    ResumeThread(thread);
    return handle;
}

uint32_t ThreadSystemId(const ThreadRef& thread) {
    return thread ? thread->id : 0;
}

uint32_t CurrentThreadSystemId() {
    return GetCurrentThreadId();
}

bool ThreadIsCurrent(const ThreadRef& thread) {
    return thread && thread->id == GetCurrentThreadId();
}

// The thread's handle is signalled only once the thread has left this module's code entirely.
bool ThreadWaitExit(const ThreadRef& thread, uint32_t milliseconds) {
    if (!thread) return true;
    return WaitForSingleObject(thread->thread, milliseconds == kInfinite ? INFINITE : milliseconds) ==
           WAIT_OBJECT_0;
}

bool ThreadHasExited(const ThreadRef& thread) {
    return !thread || Ended(thread);
}

bool ThreadSetPriorityClass(const ThreadRef& thread, int priorityClass) {
    if (!thread || Ended(thread)) return false;
    const int priority = priorityClass >= 0 && priorityClass <= 6 ? kClassPriority[priorityClass] : 0;
    return SetThreadPriority(thread->thread, priority) != 0;
}

bool ThreadGetPriorityClass(const ThreadRef& thread, int* priorityClass) {
    if (!thread || priorityClass == nullptr || Ended(thread)) return false;
    const int priority = GetThreadPriority(thread->thread);
    if (priority == THREAD_PRIORITY_ERROR_RETURN) return false;
    *priorityClass = 3;
    for (int c = 0; c < 7; ++c) {
        if (kClassPriority[c] == priority) *priorityClass = c;
    }
    return true;
}

bool ThreadSuspend(const ThreadRef& thread) {
    if (!thread) return false;
    {
        MLock lock(thread->mutex);
        if (Ended(thread)) return false;
        if (thread->suspended) return true;
        thread->suspended = true;
    }
    // Outside the lock: a thread that suspends itself stops inside this call until it is resumed.
    if (SuspendThread(thread->thread) == static_cast<DWORD>(-1)) {
        MLock lock(thread->mutex);
        thread->suspended = false;
        return false;
    }
    return true;
}

bool ThreadResume(const ThreadRef& thread, int* previousCount) {
    if (previousCount) *previousCount = 0;
    if (!thread) return false;
    MLock lock(thread->mutex);
    if (!thread->suspended) return true;
    const DWORD previous = ResumeThread(thread->thread);
    if (previous == static_cast<DWORD>(-1)) return false;
    thread->suspended = false;
    if (previousCount) *previousCount = previous > 0 ? 1 : 0;
    return true;
}

bool ThreadTerminate(const ThreadRef& thread) {
    if (!thread || Ended(thread)) return false;
    DWORD code = 0;
    if (!GetExitCodeThread(thread->thread, &code)) return false;
    if (!TerminateThread(thread->thread, code)) return false;
    // The termination completes asynchronously; once the handle is signalled no code of ours runs on it.
    WaitForSingleObject(thread->thread, 5000);
    // Gone for good: whatever suspension was recorded ended with it.
    MLock lock(thread->mutex);
    thread->suspended = false;
    return true;
}

bool ThreadSetPriorityBoost(const ThreadRef& thread, bool enable) {
    if (!thread || Ended(thread)) return false;
    return SetThreadPriorityBoost(thread->thread, enable ? FALSE : TRUE) != 0;
}

bool ThreadIsPriorityBoostEnabled(const ThreadRef& thread, bool* enabled) {
    if (!thread || enabled == nullptr || Ended(thread)) return false;
    BOOL disabled = FALSE;
    if (!GetThreadPriorityBoost(thread->thread, &disabled)) return false;
    *enabled = !disabled;
    return true;
}

int ThreadSetIdealProcessor(const ThreadRef& thread, int processor) {
    if (!thread || Ended(thread)) return -1;
    if (processor < 0 || processor > kIdealProcessorQuery) return -1;
    // The platform's own query value is its processor limit (64 for 64-bit programs).
    const DWORD wanted =
        processor == kIdealProcessorQuery ? MAXIMUM_PROCESSORS : static_cast<DWORD>(processor);
    const DWORD previous = SetThreadIdealProcessor(thread->thread, wanted);
    return previous == static_cast<DWORD>(-1) ? -1 : static_cast<int>(previous);
}

void TimerResolutionBegin(uint32_t milliseconds) {
    MLock lock(g_resolutionMutex);
    if (timeBeginPeriod(milliseconds) == TIMERR_NOERROR) ++g_resolutionRequests[milliseconds];
}

void TimerResolutionEnd(uint32_t milliseconds) {
    MLock lock(g_resolutionMutex);
    auto it = g_resolutionRequests.find(milliseconds);
    if (it == g_resolutionRequests.end()) return;
    timeEndPeriod(milliseconds);
    if (--it->second <= 0) g_resolutionRequests.erase(it);
}

int TimerResolutionRequests(uint32_t milliseconds) {
    MLock lock(g_resolutionMutex);
    auto it = g_resolutionRequests.find(milliseconds);
    return it == g_resolutionRequests.end() ? 0 : it->second;
}

}  // namespace platform
