// The scheduler's pass inside the real device: the requests of host commands reach it on the worker, and
// "Sync DB" runs a synchronisation of the device's user group there.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "calendar/MVeltranoCalendarDevice.h"
#include "module/MVeltranoCalendarModule.h"
#include "support/PluginTestHost.h"
#include "support/Eventually.h"

namespace {

using plugin_test::TestCallContext;
using plugin_test::TestHostDevice;
using plugin_test::TestRootHost;
using plugin_test::kQuietSettings;



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
    void SendSync() {
        TestCallContext context;
        context.Add("ignored");
        ASSERT_EQ(device_->SendCommand(MVeltranoCalendarDevice::kSyncDB, &context, 0), kZrkOk);
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
