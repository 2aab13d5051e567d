#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "framework/MThread.h"
#include "platform/Sync.h"
#include "support/Eventually.h"

namespace {

using Clock = std::chrono::steady_clock;

// Runs until its thread is asked to stop, counting its rounds.
class SpinningHandler : public IThreadHandler {
public:
    int Run(MThread* thread) override {
        ++runs;
        while (!thread->IsStopRequested()) {
            ++rounds;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        return 0;
    }
    std::atomic<int> runs{0};
    std::atomic<long> rounds{0};
};

// Blocks until released.
class GateHandler : public IThreadHandler {
public:
    int Run(MThread*) override {
        ++runs;
        entered.Set();
        gate.Wait(platform::kInfinite);
        return 0;
    }
    std::atomic<int> runs{0};
    platform::MEvent entered{true, false};
    platform::MEvent gate{true, false};
};

class OwnRunThread : public MThread {
public:
    OwnRunThread() : MThread(false, nullptr) {}
    ~OwnRunThread() override {
        Stop();
        WaitForExit(platform::kInfinite);
    }
    int Run() override {
        ++runs;
        return 0;
    }
    std::atomic<int> runs{0};
};

}  // namespace

TEST(Thread, StartOnAStartedThreadCreatesNoSecondThread) {
    GateHandler handler;
    MThread t(false, &handler);
    EXPECT_TRUE(t.IsStopRequested());
    ASSERT_TRUE(t.Start(true, 5000));
    ASSERT_TRUE(handler.entered.Wait(5000));
    const platform::ThreadRef first = t.GetHandle();
    const uint32_t id = t.GetThreadId();
    EXPECT_NE(id, 0u);
    EXPECT_TRUE(t.IsRunning());
    EXPECT_FALSE(t.IsStopRequested());
    EXPECT_TRUE(t.Start(true, 5000));
    EXPECT_EQ(t.GetHandle(), first);
    EXPECT_EQ(t.GetThreadId(), id);
    handler.gate.Set();
    t.WaitForExit(platform::kInfinite);
    EXPECT_EQ(handler.runs.load(), 1);
}

TEST(Thread, AHandlerlessThreadRunsTheBaseRunAndEnds) {
    MThread t(false, nullptr);
    ASSERT_TRUE(t.Start(true, 5000));
    t.WaitForExit(platform::kInfinite);
    ASSERT_TRUE(Eventually([&] { return t.GetHandle() == nullptr; }));
    EXPECT_FALSE(t.IsRunning());
    EXPECT_TRUE(t.IsStopRequested());
    EXPECT_EQ(t.GetThreadId(), 0u);
    EXPECT_FALSE(t.Stop());
}

TEST(Thread, AnEndedThreadCanBeStartedAgainAndRunsTheOverride) {
    OwnRunThread t;
    for (int i = 1; i <= 3; ++i) {
        ASSERT_TRUE(t.Start(false));
        t.WaitForExit(platform::kInfinite);
        ASSERT_TRUE(Eventually([&] { return t.GetHandle() == nullptr; }));
        EXPECT_EQ(t.runs.load(), i);
    }
}

TEST(Thread, AReservedStackIsLargeEnoughForTheBody) {
    class DeepHandler : public IThreadHandler {
    public:
        int Run(MThread*) override {
            volatile char buffer[512 * 1024];
            buffer[0] = 1;
            buffer[sizeof buffer - 1] = 2;
            used = buffer[0] + buffer[sizeof buffer - 1];
            return 0;
        }
        std::atomic<int> used{0};
    } handler;
    MThread t(false, &handler);
    t.SetStackSize(2 * 1024 * 1024);
    ASSERT_TRUE(t.Start());
    t.WaitForExit(platform::kInfinite);
    EXPECT_EQ(handler.used.load(), 3);

    // A size below the system's minimum still gives a working thread.
    SpinningHandler small;
    MThread u(false, &small);
    u.SetStackSize(1);
    ASSERT_TRUE(u.Start(true, 5000));
    u.Stop();
    u.WaitForExit(platform::kInfinite);
    EXPECT_EQ(small.runs.load(), 1);
}

TEST(Thread, StopRequestsTheEndWithoutWaitingAndForcedTerminationIsThePlatforms) {
    SpinningHandler handler;
    MThread t(false, &handler);
    EXPECT_FALSE(t.Stop());
    ASSERT_TRUE(t.Start(true, 5000));
#if defined(_WIN32)
    // Windows ends the thread where it stands; the object is left as after the thread's own end.
    EXPECT_TRUE(t.Stop(true));
    EXPECT_FALSE(t.IsRunning());
    EXPECT_EQ(t.GetHandle(), nullptr);
#else
    // POSIX cannot end one thread alone: the request is all that is done.
    EXPECT_FALSE(t.Stop(true));
#endif
    EXPECT_TRUE(t.IsStopRequested());
    t.WaitForExit(platform::kInfinite);
    ASSERT_TRUE(Eventually([&] { return !t.IsRunning(); }));

    ASSERT_TRUE(t.Start(true, 5000));
    EXPECT_TRUE(t.Stop(false));
    t.WaitForExit(platform::kInfinite);
    EXPECT_EQ(handler.runs.load(), 2);
}

TEST(Thread, WaitForExitOnTheThreadItselfReturnsAtOnce) {
    class SelfWaiter : public IThreadHandler {
    public:
        int Run(MThread* thread) override {
            thread->WaitForExit(platform::kInfinite);
            done = true;
            return 0;
        }
        std::atomic<bool> done{false};
    } handler;
    MThread t(false, &handler);
    ASSERT_TRUE(t.Start());
    t.WaitForExit(platform::kInfinite);
    EXPECT_TRUE(handler.done.load());
}

// A body that has let go of the object still runs code of the library on its way out (here a thread-local
// object's end, made slow): the wait covers that too, since a host may unload the library once it returns.
TEST(Thread, WaitForExitReturnsOnlyWhenTheThreadHasLeftItsCode) {
    struct SlowExit {
        std::atomic<bool>* left = nullptr;
        ~SlowExit() {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            if (left != nullptr) *left = true;
        }
    };
    class MarkingHandler : public IThreadHandler {
    public:
        int Run(MThread*) override {
            thread_local SlowExit mark;
            mark.left = &left;
            return 0;
        }
        std::atomic<bool> left{false};
    };
    for (int round = 0; round < 3; ++round) {
        MarkingHandler handler;
        MThread t(false, &handler);
        ASSERT_TRUE(t.Start());
        ASSERT_TRUE(Eventually([&] { return t.GetHandle() == nullptr; }));
        t.WaitForExit(platform::kInfinite);
        EXPECT_TRUE(handler.left.load()) << "round " << round;
    }
}

TEST(Thread, DestroyingAStartedObjectWaitsForItsThread) {
    SpinningHandler handler;
    {
        MThread t(false, &handler);
        ASSERT_TRUE(t.Start(true, 5000));
    }
    EXPECT_EQ(handler.runs.load(), 1);
    const long rounds = handler.rounds.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(handler.rounds.load(), rounds);
}

TEST(Thread, PriorityClassesApplyAndReadBack) {
    GateHandler handler;
    MThread t(false, &handler);
    // Without a thread the class is only stored.
    EXPECT_FALSE(t.SetPriority(5));
    EXPECT_EQ(t.GetPriority(), 5);
    EXPECT_FALSE(t.SetPriority(3));
    ASSERT_TRUE(t.Start(true, 5000));
    EXPECT_EQ(t.GetPriority(), 3);

    // An unknown class applies the normal priority.
    EXPECT_TRUE(t.SetPriority(7));
    EXPECT_EQ(t.GetPriority(), 3);

    // Lowering is always allowed; reading back gives the class.
    EXPECT_TRUE(t.SetPriority(2));
    EXPECT_EQ(t.GetPriority(), 2);
    EXPECT_TRUE(t.SetPriority(0));
    EXPECT_EQ(t.GetPriority(), 0);

    // Raising needs the right to do so; either way the answer is the thread's real level.
    const bool raised = t.SetPriority(5);
    EXPECT_EQ(t.GetPriority(), raised ? 5 : 0);
    handler.gate.Set();
    t.WaitForExit(platform::kInfinite);
}

TEST(Thread, TheStoredClassIsAppliedAtStart) {
    GateHandler handler;
    MThread t(false, &handler);
    t.SetPriority(1);
    ASSERT_TRUE(t.Start(true, 5000));
    EXPECT_EQ(t.GetPriority(), 1);
    handler.gate.Set();
    t.WaitForExit(platform::kInfinite);
}

TEST(Thread, BoostAndIdealProcessorAnswerAsThePlatformAllows) {
    GateHandler handler;
    MThread t(false, &handler);
    EXPECT_FALSE(t.SetPriorityBoost(false));
    EXPECT_FALSE(t.IsPriorityBoostEnabled());
    EXPECT_EQ(t.SetIdealProcessor(0), 32);
    ASSERT_TRUE(t.Start(true, 5000));
    EXPECT_TRUE(t.SetPriorityBoost(false));
#if defined(_WIN32)
    // The system's own switch; Wine takes it and keeps reporting the boost on.
    EXPECT_TRUE(t.SetPriorityBoost(true));
#else
    EXPECT_FALSE(t.IsPriorityBoostEnabled());
#endif
    EXPECT_EQ(t.SetIdealProcessor(0), 0);
    EXPECT_EQ(t.SetIdealProcessor(platform::kIdealProcessorQuery), 0);
    EXPECT_EQ(t.SetIdealProcessor(-1), -1);
    EXPECT_EQ(t.SetIdealProcessor(100000), -1);
    handler.gate.Set();
    t.WaitForExit(platform::kInfinite);
}

TEST(Thread, SuspendStopsProgressAndResumeLetsItGoOn) {
    SpinningHandler handler;
    MThread t(false, &handler);
    EXPECT_FALSE(t.Suspend());
    EXPECT_FALSE(t.Resume());
    ASSERT_TRUE(t.Start(true, 5000));
    ASSERT_TRUE(Eventually([&] { return handler.rounds.load() > 0; }));
    // Resume without a suspension succeeds and changes nothing.
    EXPECT_TRUE(t.Resume());
    EXPECT_FALSE(t.IsSuspended());

    for (int cycle = 0; cycle < 3; ++cycle) {
        ASSERT_TRUE(t.Suspend());
        EXPECT_TRUE(t.IsSuspended());
        EXPECT_TRUE(t.Suspend());  // a second suspension does nothing
        const long frozen = handler.rounds.load();
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        EXPECT_EQ(handler.rounds.load(), frozen);
        ASSERT_TRUE(t.Resume());
        EXPECT_FALSE(t.IsSuspended());
        EXPECT_TRUE(Eventually([&] { return handler.rounds.load() > frozen + 5; }));
    }

    // Stopping a suspended thread resumes it so that it can end.
    ASSERT_TRUE(t.Suspend());
    EXPECT_TRUE(t.Stop());
    EXPECT_FALSE(t.IsSuspended());
    t.WaitForExit(platform::kInfinite);
    EXPECT_TRUE(Eventually([&] { return !t.IsRunning(); }));
}

TEST(Thread, AThreadMaySuspendItselfUntilAnotherResumesIt) {
    class SelfSuspender : public IThreadHandler {
    public:
        int Run(MThread* thread) override {
            before = true;
            thread->Suspend();
            after = true;
            return 0;
        }
        std::atomic<bool> before{false}, after{false};
    } handler;
    MThread t(false, &handler);
    ASSERT_TRUE(t.Start(true, 5000));
    ASSERT_TRUE(Eventually([&] { return t.IsSuspended(); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(handler.before.load());
    EXPECT_FALSE(handler.after.load());
    // A Resume that comes before the thread really stands still answers false; it is repeated.
    EXPECT_TRUE(Eventually([&] { return t.Resume(); }));
    EXPECT_FALSE(t.IsSuspended());
    t.WaitForExit(platform::kInfinite);
    EXPECT_TRUE(handler.after.load());
}

namespace {

struct CallRecord {
    std::atomic<bool> onDispatcher{false};
    std::atomic<bool> pendingSeen{false};
    MThread* thread = nullptr;
};

int RecordCall(void* argument) {
    CallRecord* record = static_cast<CallRecord*>(argument);
    record->onDispatcher = MThread::IsWindowThread();
    record->pendingSeen = record->thread->IsCallPending();
    return 42;
}

int Twice(void* argument) {
    return 2 * *static_cast<int*>(argument);
}

}  // namespace

TEST(Thread, CallInWindowThreadRunsOnTheDispatcherAndReturnsTheResult) {
    GateHandler handler;
    MThread t(true, &handler);
    CallRecord record;
    record.thread = &t;
    EXPECT_FALSE(MThread::WindowExists());
    EXPECT_EQ(t.CallInWindowThread(RecordCall, &record), 0);  // not started: stop requested

    ASSERT_TRUE(t.Start(true, 5000));
    EXPECT_TRUE(MThread::WindowExists());
    EXPECT_FALSE(MThread::IsWindowThread());
    EXPECT_EQ(t.CallInWindowThread(RecordCall, &record), 42);
    EXPECT_TRUE(record.onDispatcher.load());
    EXPECT_TRUE(record.pendingSeen.load());
    EXPECT_FALSE(t.IsCallPending());

    // Calls from several threads are all answered.
    std::atomic<int> sum{0};
    std::thread a([&] {
        for (int i = 0; i < 50; ++i) {
            int v = i;
            sum += t.CallInWindowThread(Twice, &v);
        }
    });
    for (int i = 0; i < 50; ++i) {
        int v = i;
        sum += t.CallInWindowThread(Twice, &v);
    }
    a.join();
    EXPECT_EQ(sum.load(), 2 * 2 * (49 * 50 / 2));

    MThread noWindow(false, nullptr);
    EXPECT_EQ(noWindow.CallInWindowThread(RecordCall, &record), MThread::kNoWindow);

    t.Stop();
    EXPECT_EQ(t.CallInWindowThread(RecordCall, &record), 0);
    handler.gate.Set();
    t.WaitForExit(platform::kInfinite);
}

TEST(Thread, TheDispatcherLivesAsLongAsItHasUsers) {
    GateHandler first, second;
    MThread a(true, &first);
    MThread b(true, &second);
    ASSERT_TRUE(a.Start(true, 5000));
    ASSERT_TRUE(b.Start(true, 5000));
    first.gate.Set();
    a.WaitForExit(platform::kInfinite);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(MThread::WindowExists());
    int v = 4;
    EXPECT_EQ(b.CallInWindowThread(Twice, &v), 8);

    // Gone with its last user's thread: nothing of it outlives the threads that used it.
    second.gate.Set();
    b.WaitForExit(platform::kInfinite);
    EXPECT_FALSE(MThread::WindowExists());

    // A new user brings it back.
    GateHandler third;
    MThread c(true, &third);
    ASSERT_TRUE(c.Start(true, 5000));
    EXPECT_TRUE(MThread::WindowExists());
    EXPECT_EQ(c.CallInWindowThread(Twice, &v), 8);
    third.gate.Set();
    c.WaitForExit(platform::kInfinite);
}

TEST(Thread, ACallOnTheDispatcherMayCallAgainWithoutDeadlock) {
    GateHandler handler;
    MThread t(true, &handler);
    ASSERT_TRUE(t.Start(true, 5000));
    struct Nested {
        MThread* thread;
        static int Inner(void*) { return 7; }
        static int Outer(void* self) {
            return 1 + static_cast<Nested*>(self)->thread->CallInWindowThread(Inner, nullptr);
        }
    } nested{&t};
    EXPECT_EQ(t.CallInWindowThread(Nested::Outer, &nested), 8);
    handler.gate.Set();
    t.WaitForExit(platform::kInfinite);
}
