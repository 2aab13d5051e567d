// The scheduler's pass inside the real device: the requests of host commands reach it on the worker, and
// "Sync DB" runs a synchronisation of the device's user group there.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "ShowRun.h"
#include "calendar/MVeltranoCalendarDevice.h"
#include "hostsync/KorrelRemote.h"
#include "module/MVeltranoCalendarModule.h"
#include "platform/Clock.h"
#include "platform/Sync.h"
#include "support/Eventually.h"
#include "support/LoopbackServer.h"
#include "support/PluginTestHost.h"

namespace {

using plugin_test::kQuietSettings;
using plugin_test::TestCallContext;
using plugin_test::TestHostDevice;
using plugin_test::TestRootHost;

// A calendar server on loopback with one action, "Cue", at a whole second a little ahead. The first
// request is answered at once; the later ones are held for `holdMs` (or until the test ends) and then
// answered with the same list.
class SlowCalendar {
public:
    explicit SlowCalendar(uint32_t holdMs) {
        const uint64_t now = platform::LocalInstantNow();
        cue = now - now % platform::kTicksPerSecond + 3 * platform::kTicksPerSecond;
        body = R"({"calendaractions":[{"name":"cue","macro":"Cue","macro_action":1,"date":")" +
               showrun::DateText(cue) + R"("}]})";
        server.server.Get(R"(/apiv1/calendar/(\d+)/actions)",
                          [this, holdMs](const httplib::Request&, httplib::Response& res) {
                              if (requests++ > 0) release.Wait(holdMs);
                              res.set_content(body, "application/json");
                              ++answered;
                          });
    }
    ~SlowCalendar() {
        release.Set();
        server.Stop();
    }

    LoopbackServer server;
    uint64_t cue = 0;
    std::string body;
    std::atomic<int> requests{0};
    std::atomic<int> answered{0};
    platform::MEvent release{true, false};
};

// The threads of this process, where the system shows them; -1 elsewhere (under Wine the Linux folder
// shows the emulator's threads, not the program's).
int ThreadCount() {
#if defined(_WIN32)
    return -1;
#endif
    std::error_code error;
    std::filesystem::directory_iterator it("/proc/self/task", error);
    if (error) return -1;
    int n = 0;
    for (; it != std::filesystem::directory_iterator(); it.increment(error)) ++n;
    return n;
}

class DeviceSchedulerTest : public ::testing::Test {
protected:
    void SetUp() override {
        module_.Initialize(&host_, 0, 0);
        module_.SetHostReady(1);
        IZRKDevice* device = nullptr;
        ASSERT_EQ(module_.CreateDevice(0, &device), kZrkOk);
        device_ = static_cast<MVeltranoCalendarDevice*>(device);
        device_->SetHostDevice(&hostDevice_);
        for (int i = 0; i < kStatusVariableCount; ++i) {
            const bool time = i == kStatusNextRefreshTime || i == kStatusLastRefreshTime;
            status_[i] =
                hostDevice_.Add(kStatusVariableNames[i], time ? kZrkVariableTime : kZrkVariableText, i + 1);
        }
        ASSERT_EQ(device_->LoadSettings(kQuietSettings), kZrkOk);
    }
    void TearDown() override {
        if (device_ != nullptr) {
            device_->Stop();
            device_->Release();
        }
    }
    void SetGroup(const std::string& group) {
        CalendarDeviceSettings settings = device_->GetSettings();
        settings.calendarGroup = group;
        device_->SetSettings(settings);
    }
    // The host requests for the items of `group` (code 7) made so far.
    int ItemRequests(const std::string& group) {
        const auto calls = host_.remoteManager2.remote.Calls();
        return int(std::count(calls.begin(), calls.end(), "Request 7 " + group));
    }
    void SendSync(const std::string& text = "ignored") {
        TestCallContext context;
        context.Add(text);
        ASSERT_EQ(device_->SendCommand(MVeltranoCalendarDevice::kSyncDB, &context, 0), kZrkOk);
    }
    int TaskStarts(const std::string& task) {
        const auto calls = host_.remoteManager2.remote.Calls();
        return int(std::count(calls.begin(), calls.end(), "StartTask " + task));
    }
    // Points the device at the loopback server.
    void UseServer(int port) {
        CalendarDeviceSettings settings = device_->GetSettings();
        settings.url.Set(("http://127.0.0.1:" + std::to_string(port)).c_str());
        device_->SetSettings(settings);
        device_->ApplyServerUrl();
    }
    // Started against `calendar`, its first list read, and a refresh asked for that the server now holds.
    void StartWithARefreshHeld(SlowCalendar& calendar) {
        ASSERT_NE(calendar.server.Start(), 0);
        UseServer(calendar.server.port());
        ASSERT_EQ(device_->Start(), kZrkOk);
        ASSERT_TRUE(Eventually([&] { return status_[kStatusNextEvent]->Text() == "Cue"; }));
        ASSERT_EQ(device_->SendCommand(MVeltranoCalendarDevice::kRefresh, nullptr, 0), kZrkOk);
        ASSERT_TRUE(Eventually([&] { return calendar.requests == 2; }));
    }

    TestRootHost host_;
    TestHostDevice hostDevice_;
    MVeltranoCalendarModule module_;
    MVeltranoCalendarDevice* device_ = nullptr;
    plugin_test::TestHostVariable* status_[kStatusVariableCount] = {};
};

}  // namespace

TEST_F(DeviceSchedulerTest, SyncDBListsTheDevicesGroupOnTheWorkerOncePerCommand) {
    SetGroup("Stage");
    ASSERT_EQ(device_->Start(), kZrkOk);
    SendSync();
    ASSERT_TRUE(Eventually([&] { return ItemRequests("Stage") == 1; }));
    EXPECT_FALSE(device_->IsSyncRequested());
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));  // more passes, no more synchronising
    EXPECT_EQ(ItemRequests("Stage"), 1);
    SendSync();
    EXPECT_TRUE(Eventually([&] { return ItemRequests("Stage") == 2; }));
}

TEST_F(DeviceSchedulerTest, ADisabledDeviceSynchronisesOnlyAfterEnable) {
    SetGroup("Stage");
    ASSERT_EQ(device_->Start(), kZrkOk);
    ASSERT_EQ(device_->SendCommand(MVeltranoCalendarDevice::kDisable, nullptr, 0), kZrkOk);
    ASSERT_TRUE(Eventually([&] { return !device_->IsEnabled(); }));
    SendSync();
    ASSERT_TRUE(Eventually([&] { return device_->IsSyncRequested(); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(ItemRequests("Stage"), 0);
    ASSERT_EQ(device_->SendCommand(MVeltranoCalendarDevice::kEnable, nullptr, 0), kZrkOk);
    EXPECT_TRUE(Eventually([&] { return ItemRequests("Stage") == 1; }));
}

TEST_F(DeviceSchedulerTest, FirstPassShowsNoneAndTheRefreshTimes) {
    ASSERT_EQ(device_->Start(), kZrkOk);
    // The server refuses: the refresh still counts, and with no actions both groups read "None".
    ASSERT_TRUE(Eventually([&] { return status_[kStatusNextRefreshTime]->SetCount() > 0; }));
    EXPECT_EQ(status_[kStatusLastRefreshTime]->SetCount(), 1);
    // Ten minutes later, as a time of day (which wraps when the refresh falls just before midnight).
    const int64_t gap = status_[kStatusNextRefreshTime]->Number() - status_[kStatusLastRefreshTime]->Number();
    EXPECT_TRUE(gap == 10 * 60 * 100 || gap == 10 * 60 * 100 - 86400 * 100) << gap;
    EXPECT_EQ(status_[kStatusNextEvent]->Text(), "None");
    EXPECT_EQ(status_[kStatusLastEvent]->Text(), "None");
    EXPECT_EQ(status_[kStatusLastEventAction]->Text(), "");
}

TEST_F(DeviceSchedulerTest, AnActionDueDuringASlowRefreshFiresOnTimeAndOnce) {
    SlowCalendar calendar(4000);  // held past the action's time
    StartWithARefreshHeld(calendar);
    ASSERT_TRUE(Eventually([&] { return TaskStarts("Cue") == 1; }, 6000));
    EXPECT_EQ(calendar.answered, 1);  // fired while the refresh was still waiting for its answer
    EXPECT_GE(platform::LocalInstantNow(), calendar.cue);
    // The answer holds the action again: it is not fired a second time.
    ASSERT_TRUE(Eventually([&] { return calendar.answered == 2; }, 8000));
    ASSERT_TRUE(Eventually([&] { return status_[kStatusLastRefreshTime]->SetCount() == 2; }));
    EXPECT_EQ(TaskStarts("Cue"), 1);
}

TEST_F(DeviceSchedulerTest, StopDuringAnExchangeTheServerHoldsReturnsPromptlyAndLeavesNoThread) {
    SlowCalendar calendar(20000);
    StartWithARefreshHeld(calendar);
    const int threadsRunning = ThreadCount();  // the worker and the exchange thread among them

    const auto begin = std::chrono::steady_clock::now();
    ASSERT_EQ(device_->Stop(), kZrkOk);
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(5));  // the server holds 20 s
    EXPECT_EQ(calendar.answered, 1);
    EXPECT_FALSE(device_->GetWorker()->IsRunning());
    if (threadsRunning > 0) {
        EXPECT_EQ(ThreadCount(), threadsRunning - 2);
    }
    // A later run exchanges again.
    calendar.release.Set();
    ASSERT_EQ(device_->Start(), kZrkOk);
    EXPECT_TRUE(Eventually([&] { return calendar.answered >= 2; }));
}

TEST_F(DeviceSchedulerTest, SyncDBMirrorsTheHostGroupItsTextNamesAndOtherwiseTheDevicesGroup) {
    host_.remoteManager2.remote.SetReply(
        KorrelRemote::kRequestUserGroups,
        R"(<R><Object Name="User Groups" Type="UserGroup"><Object Name="Lobby" Type="UserGroup"/></Object></R>)");
    SetGroup("Stage");
    ASSERT_EQ(device_->Start(), kZrkOk);
    SendSync("Lobby");
    ASSERT_TRUE(Eventually([&] { return ItemRequests("Lobby") == 1; }));
    EXPECT_EQ(ItemRequests("Stage"), 0);
    SendSync("Backstage");  // no such group on the host
    EXPECT_TRUE(Eventually([&] { return ItemRequests("Stage") == 1; }));
    EXPECT_EQ(ItemRequests("Backstage"), 0);
}

// Each synchronisation mirrors one whole group: of several requests waiting, the newest alone is carried
// out ("A", "B", "A" leaves A's variables), and none after it.
TEST_F(DeviceSchedulerTest, OfSeveralSyncDBTextsWaitingOnlyTheNewestIsSynchronised) {
    host_.remoteManager2.remote.SetReply(
        KorrelRemote::kRequestUserGroups,
        R"(<R><Object Name="User Groups" Type="UserGroup"><Object Name="Lobby" )"
        R"(Type="UserGroup"/><Object Name="Foyer" Type="UserGroup"/></Object></R>)");
    ASSERT_EQ(device_->Start(), kZrkOk);
    ASSERT_EQ(device_->SendCommand(MVeltranoCalendarDevice::kDisable, nullptr, 0), kZrkOk);
    ASSERT_TRUE(Eventually([&] { return !device_->IsEnabled(); }));
    SendSync("Lobby");
    SendSync("Foyer");
    SendSync("Lobby");
    ASSERT_EQ(device_->SendCommand(MVeltranoCalendarDevice::kEnable, nullptr, 0), kZrkOk);
    ASSERT_TRUE(Eventually([&] { return ItemRequests("Lobby") == 1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(ItemRequests("Foyer"), 0);
    EXPECT_EQ(ItemRequests("Lobby"), 1);
}
