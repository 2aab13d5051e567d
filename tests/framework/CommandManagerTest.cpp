#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "framework/MCommandManager.h"
#include "framework/MThread.h"
#include "support/FakeClock.h"

namespace {

// Tells which commands were destroyed: every command locks it with its user value at construction and
// unlocks it at destruction.
class DestructionLog : public ILockable {
public:
    void Lock(int) override {}
    void Unlock(int flag) override {
        std::lock_guard<std::mutex> lock(mutex_);
        destroyed_.push_back(flag);
    }
    std::vector<int> Destroyed() {
        std::lock_guard<std::mutex> lock(mutex_);
        return destroyed_;
    }

private:
    std::mutex mutex_;
    std::vector<int> destroyed_;
};

MCommandObject* NewCommand(int code, DestructionLog* log = nullptr, int timeout = 0) {
    MCommandObject* c = new MCommandObject(nullptr, code, 0, log, code);
    c->SetTimeout(timeout);
    return c;
}

// Records each start; completes the command only when asked to.
class RecordingManager : public MCommandManager {
public:
    RecordingManager(bool immediate = false, bool holdLock = true, bool complete = true)
        : MCommandManager(5000, immediate, holdLock), complete_(complete) {}

    bool ExecuteCommand(MCommandObject* command) override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            started_.push_back(command->GetCode());
            threads_.push_back(std::this_thread::get_id());
        }
        if (complete_) CompleteCurrent();
        return true;
    }
    std::vector<int> Started() {
        std::lock_guard<std::mutex> lock(mutex_);
        return started_;
    }
    std::thread::id LastThread() {
        std::lock_guard<std::mutex> lock(mutex_);
        return threads_.back();
    }

private:
    bool complete_;
    std::mutex mutex_;
    std::vector<int> started_;
    std::vector<std::thread::id> threads_;
};

}  // namespace

TEST(CommandManager, PostFetchAndCompleteFollowTheResultCodes) {
    MCommandManager m(5000, false, true);
    EXPECT_FALSE(m.IsSignalled());
    EXPECT_EQ(m.PostCommand(nullptr), -1);
    EXPECT_EQ(m.PostCommand(NewCommand(1)), 2);
    EXPECT_TRUE(m.IsSignalled());
    EXPECT_TRUE(m.WaitForCommand(0));
    EXPECT_EQ(m.FetchNextCommand(), 0);
    EXPECT_FALSE(m.IsSignalled());
    EXPECT_EQ(m.FetchNextCommand(), -3);
    EXPECT_EQ(m.ResetSignalIfCurrent(), 0);
    EXPECT_EQ(m.CompleteCurrent(), 0);
    EXPECT_EQ(m.CompleteCurrent(), -2);
    EXPECT_EQ(m.ResetSignalIfCurrent(), -2);
    EXPECT_EQ(m.ExecuteCurrent(), -2);
    EXPECT_EQ(m.FetchNextCommand(), -2);
    EXPECT_FALSE(m.WaitForCommand(0));
    m.SignalCommand();
    EXPECT_TRUE(m.WaitForCommand(0));
}

TEST(CommandManager, CommandsLeaveOldestFirstAndCompletionSignalsRemainingWork) {
    MCommandManager m(5000, false, true);
    for (int code = 1; code <= 3; ++code) m.PostCommand(NewCommand(code));
    std::vector<int> order;
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(m.FetchNextCommand(), 0);
        EXPECT_FALSE(m.IsSignalled());
        MCommandObject* current = m.LockCurrent();
        ASSERT_NE(current, nullptr);
        order.push_back(current->GetCode());
        m.Unlock();
        m.CompleteCurrent();
        EXPECT_EQ(m.IsSignalled(), i < 2);
    }
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(m.LockCurrent(), nullptr);
}

TEST(CommandManager, AFullQueueDropsTheOldestCommandOnTheFourthPostWithLimitTwo) {
    DestructionLog log;
    MCommandManager m(5000, false, true);
    m.SetMaxQueueLength(2);
    EXPECT_EQ(m.GetMaxQueueLength(), 2u);
    EXPECT_EQ(m.PostCommand(NewCommand(1, &log)), 2);
    EXPECT_EQ(m.PostCommand(NewCommand(2, &log)), 2);
    EXPECT_EQ(m.PostCommand(NewCommand(3, &log)), 2);
    EXPECT_TRUE(log.Destroyed().empty());
    EXPECT_EQ(m.PostCommand(NewCommand(4, &log)), 3);
    EXPECT_EQ(log.Destroyed(), std::vector<int>{1});
    EXPECT_EQ(m.GetQueueLength(), 3u);
    ASSERT_EQ(m.FetchNextCommand(), 0);
    EXPECT_EQ(m.LockCurrent()->GetCode(), 2);
    m.Unlock();
}

TEST(CommandManager, TheDefaultLimitHoldsOneThousandAndOneCommands) {
    MCommandManager m(5000, false, true);
    EXPECT_EQ(m.GetMaxQueueLength(), 1000u);
    for (int i = 0; i < 1001; ++i) ASSERT_EQ(m.PostCommand(NewCommand(i)), 2) << i;
    EXPECT_EQ(m.PostCommand(NewCommand(1001)), 3);
    EXPECT_EQ(m.GetQueueLength(), 1001u);
}

TEST(CommandManager, ACommandWithoutTimeOutGetsTheDefault) {
    MCommandManager m(5000, false, true);
    MCommandObject* none = NewCommand(1, nullptr, 0);
    MCommandObject* own = NewCommand(2, nullptr, 300);
    m.PostCommand(none);
    m.PostCommand(own);
    EXPECT_EQ(none->GetTimeout(), 5000);
    EXPECT_EQ(own->GetTimeout(), 300);
}

TEST(CommandManager, TimeOutNeedsAStartedCommandWithATimeOut) {
    FakeClock clock;
    clock.tick = 1000;
    MCommandManager m(100, false, true);
    MCommandObject* out = reinterpret_cast<MCommandObject*>(1);
    EXPECT_FALSE(m.IsCurrentTimedOut(&out));
    EXPECT_EQ(out, nullptr);

    m.PostCommand(NewCommand(1));
    ASSERT_EQ(m.FetchNextCommand(), 0);
    clock.AdvanceMs(1000);
    // Fetched but not started.
    EXPECT_FALSE(m.IsCurrentTimedOut(&out));
    EXPECT_NE(out, nullptr);

    ASSERT_EQ(m.ExecuteCurrent(), 0);
    clock.AdvanceMs(99);
    EXPECT_FALSE(m.IsCurrentTimedOut(&out));
    clock.AdvanceMs(1);
    // Without an out parameter the answer is false and the lock is not kept.
    EXPECT_FALSE(m.IsCurrentTimedOut(nullptr));
    ASSERT_TRUE(m.IsCurrentTimedOut(&out));
    // The lock stays with this thread: another thread finds the manager busy.
    std::atomic<int> other{0};
    std::thread([&] {
        MCommandObject* probe = nullptr;
        other = m.IsCurrentTimedOut(&probe) ? 1 : 2;
    }).join();
    EXPECT_EQ(other.load(), 2);
    m.Unlock();

    out->SetTimeout(0);
    EXPECT_FALSE(m.IsCurrentTimedOut(&out));
}

TEST(CommandManager, TheTimeOutSurvivesTheClockWrapAndAStartAtReadingZero) {
    FakeClock clock;
    MCommandManager m(512, false, true);
    m.PostCommand(NewCommand(1));
    clock.tick = 0xFFFFFFFFu - 255;
    m.FetchNextCommand();
    m.ExecuteCurrent();
    clock.tick = 256;
    MCommandObject* out = nullptr;
    ASSERT_TRUE(m.IsCurrentTimedOut(&out));
    m.Unlock();

    clock.tick = 0;
    m.ExecuteCurrent();
    clock.tick = 600;
    ASSERT_TRUE(m.IsCurrentTimedOut(&out));
    m.Unlock();
}

TEST(CommandManager, ACommandLeftCurrentIsRestartedOnceThenDestroyedAndTheNextOneStarts) {
    FakeClock clock;
    clock.tick = 5;
    DestructionLog log;
    RecordingManager m(false, true, /*complete=*/false);
    m.PostCommand(NewCommand(1, &log, 100));
    m.PostCommand(NewCommand(2, &log, 100));
    EXPECT_EQ(m.ExecutePending(), 1);
    EXPECT_EQ(m.Started(), std::vector<int>{1});

    clock.AdvanceMs(99);
    m.WatchdogPass();
    EXPECT_EQ(m.Started(), std::vector<int>{1});
    clock.AdvanceMs(1);
    m.WatchdogPass();
    EXPECT_EQ(m.Started(), (std::vector<int>{1, 1}));
    MCommandObject* current = m.LockCurrent();
    ASSERT_NE(current, nullptr);
    EXPECT_EQ(current->GetAttempts(), 1);
    m.Unlock();

    // The restart renewed the start time.
    clock.AdvanceMs(99);
    m.WatchdogPass();
    EXPECT_TRUE(log.Destroyed().empty());
    clock.AdvanceMs(1);
    m.WatchdogPass();
    EXPECT_EQ(log.Destroyed(), std::vector<int>{1});
    EXPECT_EQ(m.Started(), (std::vector<int>{1, 1, 2}));

    // The watchdog released every lock it took: another thread can take it.
    std::thread([&] {
        MCommandObject* c = m.LockCurrent();
        EXPECT_NE(c, nullptr);
        if (c) m.Unlock();
    }).join();
}

TEST(CommandManager, AWatchdogPassSkipsWhileACommandRunsWithTheLockHeld) {
    FakeClock clock;
    clock.tick = 10;
    platform::MEvent entered(true, false), release(true, false);
    class BlockingManager : public MCommandManager {
    public:
        BlockingManager(platform::MEvent& e, platform::MEvent& r)
            : MCommandManager(50, false, true), e_(e), r_(r) {}
        bool ExecuteCommand(MCommandObject*) override {
            e_.Set();
            r_.Wait(platform::kInfinite);
            CompleteCurrent();
            return true;
        }
        platform::MEvent& e_;
        platform::MEvent& r_;
    } m(entered, release);
    m.PostCommand(NewCommand(1));
    std::thread worker([&] { m.ExecutePending(); });
    ASSERT_TRUE(entered.Wait(5000));
    clock.AdvanceMs(1000);
    MCommandObject* out = nullptr;
    EXPECT_FALSE(m.IsCurrentTimedOut(&out));
    m.WatchdogPass();
    release.Set();
    worker.join();
    EXPECT_EQ(m.LockCurrent(), nullptr);
}

TEST(CommandManager, ImmediateModeExecutesOnThePostingThreadWhenIdle) {
    RecordingManager m(/*immediate=*/true, /*holdLock=*/false, /*complete=*/false);
    EXPECT_EQ(m.PostCommand(NewCommand(1)), 1);
    EXPECT_EQ(m.Started(), std::vector<int>{1});
    EXPECT_EQ(m.LastThread(), std::this_thread::get_id());
    // Something is current: the next one waits in the queue.
    EXPECT_EQ(m.PostCommand(NewCommand(2)), 2);
    EXPECT_EQ(m.Started(), std::vector<int>{1});
    EXPECT_EQ(m.CompleteCurrent(), 0);
    EXPECT_TRUE(m.IsSignalled());
    EXPECT_EQ(m.ExecutePending(), 1);
    EXPECT_EQ(m.Started(), (std::vector<int>{1, 2}));
}

TEST(CommandManager, ExecuteNowLeavesTheCommandToTheCallerWhenBusy) {
    DestructionLog log;
    RecordingManager m(false, true, /*complete=*/true);
    EXPECT_EQ(m.ExecuteNow(nullptr), -1);
    EXPECT_EQ(m.ExecuteNow(NewCommand(1, &log)), 1);
    EXPECT_EQ(log.Destroyed(), std::vector<int>{1});

    m.PostCommand(NewCommand(2, &log));
    MCommandObject* refused = NewCommand(3, &log);
    EXPECT_EQ(m.ExecuteNow(refused), -3);
    EXPECT_EQ(log.Destroyed(), std::vector<int>{1});
    EXPECT_EQ(refused->GetTimeout(), 5000);
    delete refused;
    EXPECT_EQ(m.Started(), std::vector<int>{1});
}

TEST(CommandManager, FlushAndDestructionDestroyEveryCommand) {
    DestructionLog log;
    {
        MCommandManager m(5000, false, true);
        m.PostCommand(NewCommand(1, &log));
        m.PostCommand(NewCommand(2, &log));
        m.FetchNextCommand();
        m.Flush();
        EXPECT_EQ(log.Destroyed(), (std::vector<int>{2, 1}));
        EXPECT_EQ(m.LockCurrent(), nullptr);
        EXPECT_EQ(m.FetchNextCommand(), -2);
        m.PostCommand(NewCommand(3, &log));
        m.PostCommand(NewCommand(4, &log));
        m.FetchNextCommand();
    }
    EXPECT_EQ(log.Destroyed().size(), 4u);
}

TEST(CommandManager, AWorkerExecutesEveryCommandPostedFromAnotherThreadOnceAndInOrder) {
    RecordingManager m(false, true, true);
    class Loop : public IThreadHandler {
    public:
        explicit Loop(RecordingManager& m) : m_(m) {}
        int Run(MThread* thread) override {
            while (!thread->IsStopRequested()) {
                if (m_.WaitForCommand(5)) m_.ExecutePending(thread);
            }
            return 0;
        }
        RecordingManager& m_;
    } loop(m);
    MThread thread(false, &loop);
    ASSERT_TRUE(thread.Start(true, 5000));
    constexpr int kCount = 2000;
    m.SetMaxQueueLength(kCount);
    std::thread host([&] {
        for (int i = 0; i < kCount; ++i) m.PostCommand(NewCommand(i));
    });
    host.join();
    for (int spins = 0; spins < 5000 && m.Started().size() < static_cast<size_t>(kCount); ++spins) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    thread.Stop();
    thread.WaitForExit(platform::kInfinite);
    std::vector<int> started = m.Started();
    ASSERT_EQ(started.size(), static_cast<size_t>(kCount));
    for (int i = 0; i < kCount; ++i) ASSERT_EQ(started[i], i);
}
