#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "platform/Process.h"
#include "platform/Sync.h"

using platform::MEvent;

TEST(Event, ManualResetStaysSignalledUntilReset) {
    MEvent e(true, false);
    EXPECT_FALSE(e.Wait(0));
    e.Set();
    EXPECT_TRUE(e.Wait(0));
    EXPECT_TRUE(e.Wait(0));
    e.Reset();
    EXPECT_FALSE(e.Wait(0));
}

TEST(Event, AutoResetReleasesOneWait) {
    MEvent e(false, true);
    EXPECT_TRUE(e.Wait(0));
    EXPECT_FALSE(e.Wait(0));
}

TEST(Event, TimedWaitEndsAfterTheTimeOrWhenSetFromAnotherThread) {
    MEvent e(true, false);
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(e.Wait(20));
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(19));

    std::thread setter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        e.Set();
    });
    EXPECT_TRUE(e.Wait(platform::kInfinite));
    setter.join();
}

TEST(CriticalSection, IsRecursiveAndTryEnterFailsFromAnotherThreadWhileHeld) {
    platform::MCriticalSection cs;
    cs.Enter();
    EXPECT_TRUE(cs.TryEnter());  // same thread enters again
    std::atomic<bool> other{true};
    std::thread t([&] { other = cs.TryEnter(); });
    t.join();
    EXPECT_FALSE(other.load());
    cs.Leave();
    cs.Leave();
    std::thread t2([&] {
        other = cs.TryEnter();
        if (other) cs.Leave();
    });
    t2.join();
    EXPECT_TRUE(other.load());
}

// Devices, threads and timers make these for a host's whole session: each one, contended or not, gives back
// whatever the system made for it when it is destroyed.
TEST(CriticalSection, ContendedInstancesLeaveNoHandleBehind) {
    auto contendOnce = [] {
        platform::MCriticalSection cs;
        MEvent event(false, false);
        std::atomic<bool> started{false};
        cs.Enter();
        std::thread other([&] {
            started = true;
            cs.Enter();  // blocks until the owner leaves
            cs.Leave();
            event.Wait(platform::kInfinite);
        });
        while (!started) std::this_thread::yield();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        cs.Leave();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        event.Set();
        other.join();
    };
    for (int i = 0; i < 10; ++i) contendOnce();
    const int before = platform::ProcessHandleCount();
    ASSERT_GE(before, 0);
    for (int i = 0; i < 150; ++i) contendOnce();
    const int after = platform::ProcessHandleCount();
    std::printf("handles after 10 rounds: %d, after 160: %d\n", before, after);
    EXPECT_LE(after, before + 5);
}
