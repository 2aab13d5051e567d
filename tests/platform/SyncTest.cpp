#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

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
