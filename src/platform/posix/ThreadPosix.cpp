// POSIX threads for the framework.
//
// Priorities. The seven classes become per-thread nice values (on Linux, setpriority with a thread id
// changes that thread alone). They are taken relative to the process's own nice value, read once, so that
// "normal" is always a level the process may return to:
//
//   class 0 idle            nice 19 (the lowest there is)
//   class 1 lowest          base + 10
//   class 2 below normal    base + 5
//   class 3 normal          base
//   class 4 above normal    base - 5
//   class 5 highest         base - 10
//   class 6 time critical   nice -20 (the highest there is)
//
// (clamped to -20 ... 19). Reading back maps an exact match to its class and anything else to normal.
// Without the right to raise priority (no CAP_SYS_NICE and no RLIMIT_NICE allowance) the system refuses
// to lower a thread's nice value: setting then fails and the thread keeps the level it has.
//
// Suspension. A suspended thread is stopped by a signal: its handler acknowledges, then waits in
// sigsuspend until the resume signal arrives with the resume flag set, and acknowledges again on its way
// out. Both signals carry the thread's handle as their value, so the handler needs no lookup.
#include <errno.h>
#include <pthread.h>
#include <semaphore.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>

#include "platform/Clock.h"
#include "platform/ThreadPlatform.h"

namespace platform {

class ThreadHandle {
public:
    ThreadHandle() { sem_init(&ack, 0, 0); }
    ~ThreadHandle() {
        // Nobody waited for the end: the system reclaims the thread by itself once it ends.
        if (started && !joined) pthread_detach(thread);
        sem_destroy(&ack);
    }
    ThreadHandle(const ThreadHandle&) = delete;
    ThreadHandle& operator=(const ThreadHandle&) = delete;

    ThreadEntry entry = nullptr;
    void* argument = nullptr;
    pthread_t thread{};
    bool started = false;
    // The thread is joinable, so that a wait returns only when it has left the code of this module
    // entirely (a plug-in may be unloaded right after). joinLock makes the one join.
    std::mutex joinLock;
    bool joined = false;
    // Guards the fields below and every signal or priority call aimed at the thread: while `alive` is
    // read true under it, the thread (and its system id) cannot be gone.
    std::mutex mutex;
    std::condition_variable changed;
    pid_t tid = 0;
    bool alive = true;
    bool suspended = false;
    bool selfSuspended = false;  // stopped by its own call: waits on `changed`, not in the handler
    bool boostDisabled = false;
    int idealProcessor = 0;
    // Suspension hand-shake with the signal handler (async-signal-safe primitives only).
    sem_t ack;
    std::atomic<int> resume{0};
};

namespace {

int SuspendSignal() {
    return SIGRTMIN + 6;
}
int ResumeSignal() {
    return SIGRTMIN + 7;
}

void SemWait(sem_t* sem) {
    while (sem_wait(sem) != 0 && errno == EINTR) {
    }
}

void OnSuspendSignal(int, siginfo_t* info, void*) {
    const int savedErrno = errno;
    ThreadHandle* handle = static_cast<ThreadHandle*>(info->si_value.sival_ptr);
    if (handle != nullptr) {
        sem_post(&handle->ack);
        sigset_t waitMask;
        sigfillset(&waitMask);
        sigdelset(&waitMask, ResumeSignal());
        while (handle->resume.load(std::memory_order_acquire) == 0) sigsuspend(&waitMask);
        sem_post(&handle->ack);
    }
    errno = savedErrno;
}

// Only interrupts the sigsuspend of a suspended thread.
void OnResumeSignal(int, siginfo_t*, void*) {}

bool InstallSuspendHandlers() {
    static const bool installed = [] {
        struct sigaction sa {};
        sa.sa_flags = SA_SIGINFO | SA_RESTART;
        sigemptyset(&sa.sa_mask);
        // The resume signal stays pending while the handler checks its flag, so it cannot be missed.
        sigaddset(&sa.sa_mask, ResumeSignal());
        sa.sa_sigaction = OnSuspendSignal;
        if (sigaction(SuspendSignal(), &sa, nullptr) != 0) return false;
        struct sigaction ra {};
        ra.sa_flags = SA_SIGINFO | SA_RESTART;
        sigemptyset(&ra.sa_mask);
        ra.sa_sigaction = OnResumeSignal;
        return sigaction(ResumeSignal(), &ra, nullptr) == 0;
    }();
    return installed;
}

bool SendSignal(ThreadHandle* handle, int signal) {
    union sigval value;
    value.sival_ptr = handle;
    return pthread_sigqueue(handle->thread, signal, value) == 0;
}

void* Trampoline(void* argument) {
    // The thread's own reference keeps the handle alive until the entry has returned.
    ThreadRef* own = static_cast<ThreadRef*>(argument);
    ThreadRef handle = *own;
    delete own;
    {
        std::lock_guard<std::mutex> lock(handle->mutex);
        handle->tid = static_cast<pid_t>(syscall(SYS_gettid));
    }
    handle->changed.notify_all();
    handle->entry(handle->argument);
    {
        std::lock_guard<std::mutex> lock(handle->mutex);
        handle->alive = false;
    }
    handle->changed.notify_all();
    return nullptr;
}

int BaseNice() {
    static const int base = [] {
        errno = 0;
        const int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(getpid()));
        return errno == 0 ? nice : 0;
    }();
    return base;
}

int Clamp(int nice) {
    return nice < -20 ? -20 : (nice > 19 ? 19 : nice);
}

int ClassToNice(int priorityClass) {
    const int base = BaseNice();
    switch (priorityClass) {
        case 0:
            return 19;
        case 1:
            return Clamp(base + 10);
        case 2:
            return Clamp(base + 5);
        case 4:
            return Clamp(base - 5);
        case 5:
            return Clamp(base - 10);
        case 6:
            return -20;
        default:
            return Clamp(base);
    }
}

int NiceToClass(int nice) {
    // Normal first, then outwards: where clamping makes two classes meet, the one nearer normal answers.
    static const int kOrder[] = {3, 2, 4, 1, 5, 0, 6};
    for (int priorityClass : kOrder) {
        if (ClassToNice(priorityClass) == nice) return priorityClass;
    }
    return 3;
}

long ProcessorCount() {
    const long n = sysconf(_SC_NPROCESSORS_CONF);
    return n > 0 ? n : 1;
}

constexpr size_t kMinStack = 64 * 1024;

std::mutex g_resolutionMutex;
std::map<uint32_t, int> g_resolutionRequests;

}  // namespace

ThreadRef ThreadCreate(ThreadEntry entry, void* argument, uint32_t stackSize) {
    if (entry == nullptr) return nullptr;
    ThreadRef handle = std::make_shared<ThreadHandle>();
    handle->entry = entry;
    handle->argument = argument;

    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0) return nullptr;
    if (stackSize != 0) {
        // Like the platform's own reservation granularity, small requests are raised to 64 KiB.
        const size_t systemMin = static_cast<size_t>(PTHREAD_STACK_MIN);
        const size_t floor = systemMin > kMinStack ? systemMin : kMinStack;
        const size_t size = stackSize < floor ? floor : stackSize;
        pthread_attr_setstacksize(&attr, size);
    }
    ThreadRef* own = new ThreadRef(handle);
    pthread_t thread;
    // The new thread reads `thread` only after the tid hand-shake below, under the handle's mutex.
    std::unique_lock<std::mutex> lock(handle->mutex);
    const int rc = pthread_create(&thread, &attr, Trampoline, own);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        delete own;
        return nullptr;
    }
    handle->thread = thread;
    handle->started = true;
    handle->changed.wait(lock, [&] { return handle->tid != 0; });
    return handle;
}

uint32_t ThreadSystemId(const ThreadRef& thread) {
    if (!thread) return 0;
    std::lock_guard<std::mutex> lock(thread->mutex);
    return static_cast<uint32_t>(thread->tid);
}

uint32_t CurrentThreadSystemId() {
    return static_cast<uint32_t>(syscall(SYS_gettid));
}

bool ThreadIsCurrent(const ThreadRef& thread) {
    return thread && ThreadSystemId(thread) == CurrentThreadSystemId();
}

namespace {

// After the entry has returned, the thread only has its last few instructions to run: joining it waits for
// those, so nothing of the thread is left in this module's code when a wait returns.
void JoinEnded(ThreadHandle* handle) {
    std::lock_guard<std::mutex> lock(handle->joinLock);
    if (handle->joined) return;
    pthread_join(handle->thread, nullptr);
    handle->joined = true;
}

}  // namespace

bool ThreadWaitExit(const ThreadRef& thread, uint32_t milliseconds) {
    if (!thread) return true;
    {
        std::unique_lock<std::mutex> lock(thread->mutex);
        auto ended = [&] { return !thread->alive; };
        if (milliseconds == kInfinite) {
            thread->changed.wait(lock, ended);
        } else if (!thread->changed.wait_for(lock, std::chrono::milliseconds(milliseconds), ended)) {
            return false;
        }
    }
    JoinEnded(thread.get());
    return true;
}

bool ThreadHasExited(const ThreadRef& thread) {
    if (!thread) return true;
    std::lock_guard<std::mutex> lock(thread->mutex);
    return !thread->alive;
}

bool ThreadSetPriorityClass(const ThreadRef& thread, int priorityClass) {
    if (!thread) return false;
    std::lock_guard<std::mutex> lock(thread->mutex);
    if (!thread->alive) return false;
    return setpriority(PRIO_PROCESS, static_cast<id_t>(thread->tid), ClassToNice(priorityClass)) == 0;
}

bool ThreadGetPriorityClass(const ThreadRef& thread, int* priorityClass) {
    if (!thread || priorityClass == nullptr) return false;
    std::lock_guard<std::mutex> lock(thread->mutex);
    if (!thread->alive) return false;
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(thread->tid));
    if (errno != 0) return false;
    *priorityClass = NiceToClass(nice);
    return true;
}

bool ThreadSuspend(const ThreadRef& thread) {
    if (!thread || !InstallSuspendHandlers()) return false;
    std::lock_guard<std::mutex> lock(thread->mutex);
    if (!thread->alive) return false;
    if (thread->suspended) return true;
    thread->resume.store(0, std::memory_order_release);
    if (thread->tid == static_cast<pid_t>(syscall(SYS_gettid))) {
        // A thread that stops itself needs no signal: it waits here until someone resumes it.
        thread->suspended = true;
        thread->selfSuspended = true;
        std::unique_lock<std::mutex> relock(thread->mutex, std::adopt_lock);
        thread->changed.wait(relock, [&] { return thread->resume.load() != 0; });
        relock.release();
        return true;
    }
    if (!SendSignal(thread.get(), SuspendSignal())) return false;
    // The thread stands still once its handler has acknowledged.
    SemWait(&thread->ack);
    thread->suspended = true;
    return true;
}

bool ThreadResume(const ThreadRef& thread, int* previousCount) {
    if (previousCount) *previousCount = 0;
    if (!thread) return false;
    std::lock_guard<std::mutex> lock(thread->mutex);
    if (!thread->suspended) return true;
    thread->resume.store(1, std::memory_order_release);
    if (thread->selfSuspended) {
        thread->selfSuspended = false;
        thread->suspended = false;
        thread->changed.notify_all();
        if (previousCount) *previousCount = 1;
        return true;
    }
    if (!SendSignal(thread.get(), ResumeSignal())) return false;
    // Wait until the handler has left its loop, so that a following suspension cannot be swallowed.
    SemWait(&thread->ack);
    thread->suspended = false;
    if (previousCount) *previousCount = 1;
    return true;
}

bool ThreadTerminate(const ThreadRef&) {
    return false;
}

// The scheduler has no dynamic boost to switch: "disabled" is always the truth and the only wish that can
// be met.
bool ThreadSetPriorityBoost(const ThreadRef& thread, bool enable) {
    if (!thread) return false;
    std::lock_guard<std::mutex> lock(thread->mutex);
    if (!thread->alive) return false;
    thread->boostDisabled = !enable;
    return !enable;
}

bool ThreadIsPriorityBoostEnabled(const ThreadRef& thread, bool* enabled) {
    if (!thread || enabled == nullptr) return false;
    std::lock_guard<std::mutex> lock(thread->mutex);
    if (!thread->alive) return false;
    *enabled = false;
    return true;
}

// Kept as a preference only: pinning the thread would be a hard constraint where the caller asked for a
// hint.
int ThreadSetIdealProcessor(const ThreadRef& thread, int processor) {
    if (!thread) return -1;
    std::lock_guard<std::mutex> lock(thread->mutex);
    if (!thread->alive) return -1;
    const int previous = thread->idealProcessor;
    if (processor == kIdealProcessorQuery) return previous;
    if (processor < 0 || processor >= ProcessorCount() || processor >= kIdealProcessorQuery) return -1;
    thread->idealProcessor = processor;
    return previous;
}

// The POSIX timers have no process-wide resolution to raise; the requests are only counted.
void TimerResolutionBegin(uint32_t milliseconds) {
    std::lock_guard<std::mutex> lock(g_resolutionMutex);
    ++g_resolutionRequests[milliseconds];
}

void TimerResolutionEnd(uint32_t milliseconds) {
    std::lock_guard<std::mutex> lock(g_resolutionMutex);
    auto it = g_resolutionRequests.find(milliseconds);
    if (it == g_resolutionRequests.end()) return;
    if (--it->second <= 0) g_resolutionRequests.erase(it);
}

int TimerResolutionRequests(uint32_t milliseconds) {
    std::lock_guard<std::mutex> lock(g_resolutionMutex);
    auto it = g_resolutionRequests.find(milliseconds);
    return it == g_resolutionRequests.end() ? 0 : it->second;
}

}  // namespace platform
