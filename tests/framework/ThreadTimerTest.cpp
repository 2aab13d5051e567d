#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "framework/MThreadTimer.h"
#include "platform/ThreadPlatform.h"
#include "support/Eventually.h"
#include "support/FakeClock.h"

namespace {

// Shared record of the calls of several handlers, in order.
struct CallLog {
    std::mutex mutex;
    std::vector<std::pair<int, uint32_t>> calls;  // handler id, now
    void Add(int id, uint32_t now) {
        std::lock_guard<std::mutex> lock(mutex);
        calls.emplace_back(id, now);
    }
    std::vector<std::pair<int, uint32_t>> Get() {
        std::lock_guard<std::mutex> lock(mutex);
        return calls;
    }
    int CountOf(int id) {
        std::lock_guard<std::mutex> lock(mutex);
        int n = 0;
        for (auto& c : calls) n += c.first == id;
        return n;
    }
};

class LoggingHandler : public IThreadTimerHandler {
public:
    LoggingHandler(int id, CallLog& log) : id_(id), log_(log) {}
    int OnTimer(uint32_t now) override {
        log_.Add(id_, now);
        if (action) action();
        return 0;
    }
    std::function<void()> action;

private:
    int id_;
    CallLog& log_;
};

void StopAndWait(MThreadTimer& timer) {
    timer.Stop();
    timer.WaitForExit(platform::kInfinite);
}

}  // namespace

TEST(ThreadTimer, CallsEveryHandlerInListOrderWithThePassStartTime) {
    FakeClock clock;
    clock.tick = 777;
    CallLog log;
    LoggingHandler a(1, log), b(2, log), c(3, log);
    MThreadTimer timer(1, 1);
    timer.AddHandler(&a);
    timer.AddHandler(&b);
    timer.AddHandler(&c);
    EXPECT_EQ(timer.GetHandlerCount(), 3);
    ASSERT_TRUE(timer.Start());
    ASSERT_TRUE(Eventually([&] { return log.CountOf(3) >= 2; }));
    StopAndWait(timer);
    auto calls = log.Get();
    for (size_t i = 0; i + 2 < calls.size(); i += 3) {
        EXPECT_EQ(calls[i].first, 1);
        EXPECT_EQ(calls[i + 1].first, 2);
        EXPECT_EQ(calls[i + 2].first, 3);
    }
    for (auto& call : calls) EXPECT_EQ(call.second, 777u);
}

TEST(ThreadTimer, AHandlerRemovedDuringAPassIsNotCalledAgain) {
    CallLog log;
    MThreadTimer timer(1, 1);
    LoggingHandler first(1, log), second(2, log), self(3, log);
    std::atomic<bool> removeSecond{false};
    std::atomic<int> secondCalls{-1};
    // The first handler removes the second during a pass; the third removes itself on its first call.
    first.action = [&] {
        if (removeSecond.load()) {
            timer.RemoveHandler(&second);
            secondCalls = log.CountOf(2);
            removeSecond = false;
        }
    };
    self.action = [&] { timer.RemoveHandler(&self); };
    timer.AddHandler(&first);
    timer.AddHandler(&second);
    timer.AddHandler(&self);
    ASSERT_TRUE(timer.Start());
    ASSERT_TRUE(Eventually([&] { return log.CountOf(2) >= 1; }));
    removeSecond = true;
    ASSERT_TRUE(Eventually([&] { return !removeSecond.load(); }));
    const int firstCalls = log.CountOf(1);
    ASSERT_TRUE(Eventually([&] { return log.CountOf(1) >= firstCalls + 5; }));
    StopAndWait(timer);
    EXPECT_EQ(log.CountOf(2), secondCalls.load());
    EXPECT_EQ(log.CountOf(3), 1);
    EXPECT_EQ(timer.GetHandlerCount(), 1);
}

TEST(ThreadTimer, RemovalFromAnotherThreadWaitsForTheRunningPass) {
    CallLog log;
    // A long interval: the remover, released at the end of the pass, must get the lock before the next one.
    MThreadTimer timer(500, 1);
    LoggingHandler blocking(1, log);
    platform::MEvent inPass(true, false), release(true, false);
    std::atomic<bool> block{true};
    blocking.action = [&] {
        if (block.exchange(false)) {
            inPass.Set();
            release.Wait(platform::kInfinite);
        }
    };
    timer.AddHandler(&blocking);
    ASSERT_TRUE(timer.Start());
    ASSERT_TRUE(inPass.Wait(5000));
    std::atomic<bool> removed{false};
    std::thread remover([&] {
        timer.RemoveHandler(&blocking);
        removed = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(removed.load());
    release.Set();
    remover.join();
    const int calls = log.CountOf(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    StopAndWait(timer);
    EXPECT_EQ(log.CountOf(1), calls);
    EXPECT_EQ(calls, 1);
}

TEST(ThreadTimer, AStopDuringAPassEndsItBeforeTheNextHandler) {
    CallLog log;
    MThreadTimer timer(1, 1);
    LoggingHandler stopper(1, log), later(2, log);
    stopper.action = [&] { timer.Stop(); };
    timer.AddHandler(&stopper);
    timer.AddHandler(&later);
    ASSERT_TRUE(timer.Start());
    timer.WaitForExit(platform::kInfinite);
    ASSERT_TRUE(Eventually([&] { return !timer.IsRunning(); }));
    EXPECT_EQ(log.CountOf(1), 1);
    EXPECT_EQ(log.CountOf(2), 0);
}

TEST(ThreadTimer, AStopEndsThePauseBetweenPassesAtOnce) {
    CallLog log;
    LoggingHandler h(1, log);
    MThreadTimer timer(60000, 1);
    timer.AddHandler(&h);
    ASSERT_TRUE(timer.Start());
    ASSERT_TRUE(Eventually([&] { return log.CountOf(1) == 1; }));
    const auto began = std::chrono::steady_clock::now();
    StopAndWait(timer);
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(10));
    EXPECT_EQ(log.CountOf(1), 1);
}

TEST(ThreadTimer, TheResolutionIsHeldForTheTimersLifeAndMovedOnlyWhenItChanges) {
    EXPECT_EQ(platform::TimerResolutionRequests(7), 0);
    {
        MThreadTimer timer(40, 7);
        EXPECT_EQ(platform::TimerResolutionRequests(7), 1);
        timer.SetInterval(20, 7);
        EXPECT_EQ(timer.GetInterval(), 20);
        EXPECT_EQ(platform::TimerResolutionRequests(7), 1);
        timer.SetInterval(25, 9);
        EXPECT_EQ(platform::TimerResolutionRequests(7), 0);
        EXPECT_EQ(platform::TimerResolutionRequests(9), 1);
        EXPECT_EQ(timer.GetResolution(), 9u);
    }
    EXPECT_EQ(platform::TimerResolutionRequests(9), 0);
}

TEST(ThreadTimer, DestroyingARunningTimerWaitsForItsThread) {
    CallLog log;
    LoggingHandler h(1, log);
    {
        MThreadTimer timer(1, 1);
        timer.AddHandler(&h);
        ASSERT_TRUE(timer.Start());
        ASSERT_TRUE(Eventually([&] { return log.CountOf(1) >= 3; }));
    }
    const int calls = log.CountOf(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(log.CountOf(1), calls);
}
