// Execution contexts: the host's view (interface lookup, references, result and text) and the plug-in's
// (waiting for a pending call, or being told of its completion).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "framework/CalendarDeviceExecContext.h"
#include "framework/MAsyncDeviceExecContext.h"
#include "framework/MDefaultDeviceExecContext.h"

namespace {

using Clock = std::chrono::steady_clock;

long long MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Notes its destruction, so reference counting can be watched from outside.
template <class Base>
class Tracked : public Base {
public:
    template <class... Args>
    explicit Tracked(std::atomic<int>* destroyed, Args... args) : Base(args...), destroyed_(destroyed) {}
    ~Tracked() override { ++*destroyed_; }

private:
    std::atomic<int>* destroyed_;
};

class CountingHandler : public IAsyncDeviceExecContextHandler {
public:
    int OnContextDone(MDefaultDeviceExecContext* context) override {
        ++calls;
        last = context;
        stateSeen = context->GetState();
        return 77;
    }
    std::atomic<int> calls{0};
    MDefaultDeviceExecContext* last = nullptr;
    int stateSeen = -1;
};

// Counts the registry lock as the list forwards it to an outside lock.
class CountingLock : public ILockable {
public:
    void Lock(int flag) override {
        mutex.Enter();
        ++locks;
        lastFlag = flag;
    }
    void Unlock(int) override {
        ++unlocks;
        mutex.Leave();
    }
    platform::MCriticalSection mutex;
    int locks = 0;
    int unlocks = 0;
    int lastFlag = -1;
};

// --- What every context answers the host

TEST(ExecContextInterface, QueryInterfaceAnswersTheThreeNamesWithTheContext) {
    CalendarDeviceExecContext calendar;
    MDefaultDeviceExecContext plain;
    for (IMInterface* context : {static_cast<IMInterface*>(&calendar), static_cast<IMInterface*>(&plain)}) {
        for (const char* name : {"IMInterface", "IExecContext2", "IExecContext"}) {
            void* out = nullptr;
            EXPECT_EQ(context->QueryInterface(name, &out), 0) << name;
            EXPECT_EQ(out, static_cast<void*>(context)) << name;
        }
    }
    // No reference is added by the lookup.
    EXPECT_EQ(plain.AddRef(), 2);
}

TEST(ExecContextInterface, QueryInterfaceRejectsOtherNamesAndNullArguments) {
    MDefaultDeviceExecContext context;
    int sentinel = 0;
    for (const char* name : {"IExecContext3", "iexeccontext2", "IExecContext2 ", "", "IZRKDevice"}) {
        void* out = &sentinel;
        EXPECT_EQ(context.QueryInterface(name, &out), kZrkUnknownInterface) << name;
        EXPECT_EQ(out, nullptr) << name;
    }
    void* out = &sentinel;
    EXPECT_EQ(context.QueryInterface(nullptr, &out), kZrkNullArgument);
    EXPECT_EQ(out, &sentinel);  // untouched
    EXPECT_EQ(context.QueryInterface("IExecContext2", nullptr), kZrkNullArgument);
}

TEST(ExecContextInterface, ResultTextStateAndReservedSlots) {
    MDefaultDeviceExecContext context;
    IExecContext2* host = &context;
    EXPECT_EQ(host->GetState(), MDefaultDeviceExecContext::kCreated);
    EXPECT_EQ(context.GetResult(), 0);
    EXPECT_STREQ(context.GetText().Get(), "");

    EXPECT_EQ(host->Begin(), host);
    EXPECT_EQ(host->GetState(), MDefaultDeviceExecContext::kBegun);
    EXPECT_EQ(host->SetResult(19), host);
    EXPECT_EQ(context.GetResult(), 19);
    host->SetText("Value 12");
    EXPECT_STREQ(context.GetText().Get(), "Value 12");
    host->SetText(nullptr);
    EXPECT_STREQ(context.GetText().Get(), "");
    // Without a handler, Complete answers with the context's address.
    EXPECT_EQ(host->Complete(), reinterpret_cast<intptr_t>(&context));
    EXPECT_EQ(host->GetState(), MDefaultDeviceExecContext::kCompleted);

    EXPECT_EQ(host->ReservedA(), 0);
    EXPECT_EQ(host->ReservedB(), 0);
    EXPECT_EQ(host->ReservedC(), 0);
    EXPECT_EQ(host->ReservedD(1, 2, 3), 0);
}

TEST(ExecContextInterface, PlainContextForwardsCompletionToItsHandler) {
    CountingHandler handler;
    MDefaultDeviceExecContext context(&handler);
    context.Begin();
    EXPECT_EQ(context.Complete(), 77);
    EXPECT_EQ(handler.calls, 1);
    EXPECT_EQ(handler.last, &context);
    EXPECT_EQ(handler.stateSeen, MDefaultDeviceExecContext::kCompleted);
}

// --- References

TEST(ExecContextReferences, LastReleaseDestroysTheContext) {
    std::atomic<int> destroyed{0};
    auto* context = new Tracked<MDefaultDeviceExecContext>(&destroyed, nullptr);
    IExecContext2* host = context;
    EXPECT_EQ(host->AddRef(), 2);
    EXPECT_EQ(host->Release(), 0);
    EXPECT_EQ(destroyed, 0);
    EXPECT_EQ(host->Release(), 0);
    EXPECT_EQ(destroyed, 1);
}

TEST(ExecContextReferences, CountsAreAtomicAcrossHostThreads) {
    std::atomic<int> destroyed{0};
    auto* context = new Tracked<MDefaultDeviceExecContext>(&destroyed, nullptr);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([context] {
            for (int i = 0; i < 2000; ++i) {
                context->AddRef();
                context->Release();
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(destroyed, 0);
    context->Release();
    EXPECT_EQ(destroyed, 1);
}

// --- The calendar context: the requesting thread waits for the host

TEST(CalendarExecContext, WaitReturnsAtOnceWhenTheHostNeverBegan) {
    CalendarDeviceExecContext context;
    context.SetResult(3);
    auto start = Clock::now();
    EXPECT_EQ(context.Wait(60000), 3);
    EXPECT_LT(MillisecondsSince(start), 30000);  // far below the limit: it did not wait for it
    EXPECT_EQ(context.Wait(-1), 3);
}

TEST(CalendarExecContext, WaitAfterBeginLastsItsTimeUnlessCompleted) {
    CalendarDeviceExecContext context;
    context.Begin();
    auto start = Clock::now();
    EXPECT_EQ(context.Wait(10), 0);
    EXPECT_GE(MillisecondsSince(start), 9);
    // Begin and Complete move the event only, not the state.
    EXPECT_EQ(context.GetState(), MDefaultDeviceExecContext::kCreated);

    context.SetResult(5);
    EXPECT_EQ(context.Complete(), reinterpret_cast<intptr_t>(&context));
    start = Clock::now();
    EXPECT_EQ(context.Wait(60000), 5);
    EXPECT_LT(MillisecondsSince(start), 30000);
    EXPECT_EQ(context.GetState(), MDefaultDeviceExecContext::kCreated);
}

TEST(CalendarExecContext, PendingCompletionFromAnotherThreadWakesWait) {
    CalendarDeviceExecContext context;
    IExecContext2* host = &context;
    host->Begin();  // the host answered 21 and began the call
    auto start = Clock::now();
    std::thread hostThread([host] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        host->SetText("<Object Name=\"Show\"/>");
        host->SetResult(0);
        host->Complete();
    });
    EXPECT_EQ(context.Wait(-1), 0);
    EXPECT_GE(MillisecondsSince(start), 15);
    EXPECT_STREQ(context.GetText().Get(), "<Object Name=\"Show\"/>");
    hostThread.join();
}

TEST(CalendarExecContext, WaiterMayDestroyTheContextAsSoonAsWaitReturns) {
    // The device keeps its contexts on the waiting thread's stack and destroys them right after Wait,
    // while the host's thread may still be inside Complete.
    std::vector<std::thread> hostThreads;
    for (int i = 0; i < 200; ++i) {
        CalendarDeviceExecContext::Registry registry(false, nullptr);
        {
            CalendarDeviceExecContext context(&registry);
            context.Begin();
            IExecContext2* host = &context;
            hostThreads.emplace_back([host, i] {
                host->SetResult(i);
                host->Complete();
            });
            EXPECT_EQ(context.Wait(-1), i);
        }
        EXPECT_EQ(registry.GetCount(), 0);
    }
    for (auto& thread : hostThreads) thread.join();
}

TEST(CalendarExecContext, JoinsAndLeavesItsRegistryUnderTheRegistryLock) {
    CountingLock lock;
    CalendarDeviceExecContext::Registry registry(false, &lock);
    {
        CalendarDeviceExecContext first(&registry);
        CalendarDeviceExecContext second(&registry);
        EXPECT_EQ(lock.locks, 2);
        EXPECT_EQ(lock.lastFlag, 1);
        EXPECT_EQ(registry.GetCount(), 2);
        EXPECT_EQ(registry.GetFirst(), &first);
        EXPECT_EQ(registry.GetNext(), &second);
    }
    EXPECT_EQ(registry.GetCount(), 0);
    EXPECT_EQ(lock.locks, 4);
    EXPECT_EQ(lock.unlocks, 4);
    CalendarDeviceExecContext unregistered;  // no registry: nothing to join
    EXPECT_EQ(unregistered.Wait(0), 0);
}

TEST(CalendarExecContext, RequestsOnManyThreadsShareOneRegistry) {
    CalendarDeviceExecContext::Registry registry(false, nullptr);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&registry] {
            for (int i = 0; i < 300; ++i) {
                CalendarDeviceExecContext context(&registry);
                context.SetResult(i);
                EXPECT_EQ(context.Wait(-1), i);
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(registry.GetCount(), 0);
}

// --- The asynchronous context: a handler is told instead

TEST(AsyncExecContext, HandlerIsCalledOnceThenCompleteReleases) {
    std::atomic<int> destroyed{0};
    CountingHandler handler;
    auto* context = new Tracked<MAsyncDeviceExecContext>(
        &destroyed, &handler, static_cast<MAsyncDeviceExecContext::Registry*>(nullptr));
    context->AddRef();  // the host's own reference: count 2
    context->Begin();
    EXPECT_EQ(context->GetState(), MDefaultDeviceExecContext::kBegun);
    EXPECT_EQ(context->Complete(), 77);
    EXPECT_EQ(handler.calls, 1);
    EXPECT_EQ(handler.last, context);
    EXPECT_EQ(handler.stateSeen, MDefaultDeviceExecContext::kCompleted);
    EXPECT_EQ(destroyed, 0);
    // The handler is forgotten: a second completion drops a reference instead.
    EXPECT_EQ(context->Complete(), 0);
    EXPECT_EQ(handler.calls, 1);
    EXPECT_EQ(destroyed, 0);
    EXPECT_EQ(context->Complete(), 0);
    EXPECT_EQ(handler.calls, 1);
    EXPECT_EQ(destroyed, 1);
}

TEST(AsyncExecContext, WithoutHandlerCompleteReleases) {
    std::atomic<int> destroyed{0};
    MAsyncDeviceExecContext::Registry registry(false, nullptr);
    new Tracked<MAsyncDeviceExecContext>(&destroyed, static_cast<IAsyncDeviceExecContextHandler*>(nullptr),
                                         &registry);
    ASSERT_EQ(registry.GetCount(), 1);
    registry.GetFirst()->Complete();
    EXPECT_EQ(destroyed, 1);
    EXPECT_EQ(registry.GetCount(), 0);
}

TEST(AsyncExecContext, OwnerSweepReleasesEveryContextUnderTheRegistryLock) {
    std::atomic<int> destroyed{0};
    CountingHandler handler;
    MAsyncDeviceExecContext::Registry registry(false, nullptr);
    for (int i = 0; i < 3; ++i) new Tracked<MAsyncDeviceExecContext>(&destroyed, &handler, &registry);
    EXPECT_EQ(registry.GetCount(), 3);
    // As the remote access does when it is destroyed: each release leaves the registry under the same
    // (recursive) lock.
    registry.Lock(1);
    while (MAsyncDeviceExecContext* context = registry.GetFirst()) context->Release();
    registry.Unlock(1);
    EXPECT_EQ(destroyed, 3);
    EXPECT_EQ(registry.GetCount(), 0);
    EXPECT_EQ(handler.calls, 0);
}

TEST(AsyncExecContext, RacingCompletionsCallTheHandlerOnce) {
    for (int round = 0; round < 100; ++round) {
        std::atomic<int> destroyed{0};
        CountingHandler handler;
        MAsyncDeviceExecContext::Registry registry(false, nullptr);
        auto* context = new Tracked<MAsyncDeviceExecContext>(&destroyed, &handler, &registry);
        context->AddRef();
        context->AddRef();  // three references: two completions cannot destroy it
        std::thread a([context] { context->Complete(); });
        std::thread b([context] { context->Complete(); });
        a.join();
        b.join();
        ASSERT_EQ(handler.calls, 1);
        EXPECT_EQ(destroyed, 0);
        context->Release();
        context->Release();
        EXPECT_EQ(destroyed, 1);
        EXPECT_EQ(registry.GetCount(), 0);
    }
}

}  // namespace
