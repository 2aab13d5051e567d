// The calendar device in-process: what its commands do on the worker, the command queue across Start and
// Stop, the shared timer's life, the settings as one snapshot across threads, and the address handed to
// the REST client.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "calendar/DeviceSetupServices.h"
#include "calendar/MVeltranoCalendarDevice.h"
#include "framework/MThreadTimer.h"
#include "module/MVeltranoCalendarModule.h"
#include "support/Eventually.h"
#include "support/PluginTestHost.h"

namespace {

using plugin_test::kQuietSettings;
using plugin_test::TestCallContext;
using plugin_test::TestHostDevice;
using plugin_test::TestRect;
using plugin_test::TestRootHost;

class CalendarDeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        module_.Initialize(&host_, 0, 0);
        module_.SetHostReady(1);
        IZRKDevice* device = nullptr;
        ASSERT_EQ(module_.CreateDevice(0, &device), kZrkOk);
        device_ = static_cast<MVeltranoCalendarDevice*>(device);
        device_->SetHostDevice(&hostDevice_);
        ASSERT_EQ(device_->LoadSettings(kQuietSettings), kZrkOk);
    }
    void TearDown() override {
        if (device_ != nullptr) {
            device_->Stop();
            device_->Release();
        }
    }

    TestRootHost host_;
    TestHostDevice hostDevice_;
    MVeltranoCalendarModule module_;
    MVeltranoCalendarDevice* device_ = nullptr;
};

TEST_F(CalendarDeviceTest, CommandsSetTheirFlagsOnTheWorker) {
    EXPECT_TRUE(device_->IsEnabled());
    EXPECT_FALSE(device_->IsSyncRequested());
    ASSERT_EQ(device_->Start(), kZrkOk);

    ASSERT_EQ(device_->SendCommand(MVeltranoCalendarDevice::kDisable, nullptr, 0), kZrkOk);
    ASSERT_TRUE(Eventually([&] { return !device_->IsEnabled(); }));
    // While disabled, requests wait: nothing clears them.
    ASSERT_EQ(device_->SendCommand(MVeltranoCalendarDevice::kRefresh, nullptr, 0), kZrkOk);
    ASSERT_TRUE(Eventually([&] { return device_->IsRefreshRequested(); }));
    TestCallContext context;
    context.Add("Stage");
    ASSERT_EQ(device_->SendCommand(MVeltranoCalendarDevice::kSyncDB, &context, 0), kZrkOk);
    ASSERT_TRUE(Eventually([&] { return device_->IsSyncRequested(); }));
    ASSERT_TRUE(Eventually([&] { return device_->GetQueueLength() == 0; }));
    EXPECT_TRUE(device_->IsRefreshRequested());

    ASSERT_EQ(device_->SendCommand(MVeltranoCalendarDevice::kEnable, nullptr, 0), kZrkOk);
    EXPECT_TRUE(Eventually([&] { return device_->IsEnabled(); }));
}

TEST_F(CalendarDeviceTest, UnknownOrMissingCommandsChangeNothing) {
    EXPECT_FALSE(device_->ExecuteCommand(nullptr));
    EXPECT_EQ(device_->SendCommand(4, nullptr, 0), kZrkUnknownCommand);
    EXPECT_EQ(device_->SendCommand(MVeltranoCalendarDevice::kSyncDB, nullptr, 0), kZrkOk);
    EXPECT_EQ(device_->GetQueueLength(), 0u);

    auto* odd = new MCommandObject(device_, 17, 0);
    ASSERT_EQ(device_->PostCommand(odd), 2);
    ASSERT_EQ(device_->FetchNextCommand(), 0);
    ASSERT_EQ(device_->ExecuteCurrent(), 0);
    EXPECT_TRUE(device_->IsEnabled());
    EXPECT_FALSE(device_->IsRefreshRequested());
    EXPECT_FALSE(device_->IsSyncRequested());
    // The command was completed (destroyed) by its execution.
    EXPECT_EQ(device_->LockCurrent(), nullptr);
}

TEST_F(CalendarDeviceTest, PostedCommandsCarryCodeTimeoutOwnerAndTheSyncText) {
    ASSERT_EQ(device_->SendCommand(MVeltranoCalendarDevice::kRefresh, nullptr, 0), kZrkOk);
    TestCallContext context;
    context.Add("outer")->AddSub("Stage");
    ASSERT_EQ(device_->SendCommand(MVeltranoCalendarDevice::kSyncDB, &context, 0), kZrkOk);
    ASSERT_EQ(device_->GetQueueLength(), 2u);

    ASSERT_EQ(device_->FetchNextCommand(), 0);
    MCommandObject* refresh = device_->LockCurrent();
    ASSERT_NE(refresh, nullptr);
    EXPECT_EQ(refresh->GetCode(), MVeltranoCalendarDevice::kRefresh);
    EXPECT_EQ(refresh->GetSubCode(), 0);
    EXPECT_EQ(refresh->GetTimeout(), 5000);
    EXPECT_EQ(refresh->GetOwner(), static_cast<void*>(device_));
    EXPECT_EQ(refresh->GetParamCount(), 0);
    device_->Unlock();
    ASSERT_EQ(device_->CompleteCurrent(), 0);

    ASSERT_EQ(device_->FetchNextCommand(), 0);
    MCommandObject* sync = device_->LockCurrent();
    ASSERT_NE(sync, nullptr);
    EXPECT_EQ(sync->GetCode(), MVeltranoCalendarDevice::kSyncDB);
    EXPECT_EQ(sync->GetTimeout(), 5000);
    ASSERT_EQ(sync->GetParamCount(), 1);
    EXPECT_STREQ(sync->GetCharBuffer(0), "Stage");
    const char* name = sync->GetParamName(0);
    EXPECT_TRUE(name == nullptr || *name == '\0') << name;
    device_->Unlock();
}

TEST_F(CalendarDeviceTest, CommandsSentWhileStoppedRunAfterStartUnlessStopFlushesThem) {
    ASSERT_EQ(device_->SendCommand(MVeltranoCalendarDevice::kDisable, nullptr, 0), kZrkOk);
    EXPECT_EQ(device_->GetQueueLength(), 1u);
    EXPECT_TRUE(device_->IsEnabled());
    ASSERT_EQ(device_->Start(), kZrkOk);
    ASSERT_TRUE(Eventually([&] { return !device_->IsEnabled(); }));
    ASSERT_EQ(device_->Stop(), kZrkOk);

    ASSERT_EQ(device_->SendCommand(MVeltranoCalendarDevice::kEnable, nullptr, 0), kZrkOk);
    ASSERT_EQ(device_->SendCommand(MVeltranoCalendarDevice::kRefresh, nullptr, 0), kZrkOk);
    EXPECT_EQ(device_->GetQueueLength(), 2u);
    ASSERT_EQ(device_->Stop(), kZrkOk);
    EXPECT_EQ(device_->GetQueueLength(), 0u);
    EXPECT_FALSE(device_->IsEnabled());
}

TEST_F(CalendarDeviceTest, StartAndStopSetTheFlagsAndThePacing) {
    EXPECT_EQ(device_->GetPacingTimeout()->GetPeriod(), 0u);
    EXPECT_FALSE(device_->IsOpened());
    ASSERT_EQ(device_->Start(), kZrkOk);
    EXPECT_TRUE(device_->IsOpened());
    EXPECT_TRUE(device_->IsRunning());
    EXPECT_EQ(device_->GetPacingTimeout()->GetPeriod(), 1000u);
    EXPECT_TRUE(Eventually([&] { return device_->GetWorker()->IsRunning(); }));
    ASSERT_EQ(device_->Stop(), kZrkOk);
    EXPECT_FALSE(device_->IsOpened());
    EXPECT_FALSE(device_->IsRunning());
    EXPECT_EQ(device_->GetPacingTimeout()->GetPeriod(), 0u);
    EXPECT_FALSE(device_->GetWorker()->IsRunning());
}

TEST_F(CalendarDeviceTest, AStartDuringAStopOnAnotherThreadNeverLeavesARunningDeviceWithoutItsWorker) {
    for (int round = 0; round < 30; ++round) {
        ASSERT_EQ(device_->Start(), kZrkOk);
        std::thread stopper([&] { device_->Stop(); });
        device_->Start();
        stopper.join();
        // Either order may win; a device that reports running has its worker.
        if (device_->IsRunning()) {
            ASSERT_TRUE(Eventually([&] { return device_->GetWorker()->IsRunning(); }, 1000)) << round;
        }
        device_->Stop();
    }
}

TEST_F(CalendarDeviceTest, StopEndsTheWorkerPromptly) {
    ASSERT_EQ(device_->Start(), kZrkOk);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    auto before = std::chrono::steady_clock::now();
    ASSERT_EQ(device_->Stop(), kZrkOk);
    // The command event wakes the worker: it does not sit out its second-long wait.
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(900));
}

TEST_F(CalendarDeviceTest, ReleasingAStartedDeviceStopsItsWorkerFirst) {
    ASSERT_EQ(device_->Start(), kZrkOk);
    ASSERT_EQ(device_->SendCommand(MVeltranoCalendarDevice::kRefresh, nullptr, 0), kZrkOk);
    EXPECT_EQ(device_->Release(), kZrkOk);
    device_ = nullptr;
    uint32_t count = 9;
    module_.GetDeviceCount(&count);
    EXPECT_EQ(count, 0u);
}

TEST_F(CalendarDeviceTest, TheSharedTimerLivesWhileAnyDeviceDoes) {
    MThreadTimer* timer = MVeltranoCalendarDevice::SharedTimer();
    ASSERT_NE(timer, nullptr);
    EXPECT_EQ(timer->GetInterval(), 40);
    EXPECT_EQ(timer->GetResolution(), 1u);
    EXPECT_EQ(timer->GetHandlerCount(), 1);

    // A second device (made directly: the module allows one) joins the same timer.
    auto* second = new MVeltranoCalendarDevice(&module_, "second");
    EXPECT_EQ(MVeltranoCalendarDevice::SharedTimer(), timer);
    EXPECT_EQ(timer->GetHandlerCount(), 2);
    second->Release();
    EXPECT_EQ(MVeltranoCalendarDevice::SharedTimer(), timer);
    EXPECT_EQ(timer->GetHandlerCount(), 1);

    device_->Release();
    device_ = nullptr;
    EXPECT_EQ(MVeltranoCalendarDevice::SharedTimer(), nullptr);
}

TEST_F(CalendarDeviceTest, StatusVariablesAreLookedUpByLoadAndConfigureOnly) {
    for (int i = 0; i < kStatusVariableCount; ++i) {
        EXPECT_EQ(device_->GetStatusVariable(static_cast<StatusVariable>(i)), nullptr);
    }
    plugin_test::AddStatusVariables(hostDevice_);
    EXPECT_EQ(device_->GetStatusVariable(kStatusLastEvent), nullptr);
    ASSERT_EQ(device_->LoadSettings(kQuietSettings), kZrkOk);
    EXPECT_EQ(device_->GetStatusVariable(kStatusLastEvent), hostDevice_.GetVariable("LastEvent"));
    EXPECT_EQ(device_->GetStatusVariable(kStatusNextRefreshTime), hostDevice_.GetVariable("NextRefreshTime"));

    // A host object that no longer knows them: Configure looks again and the handles go null.
    TestHostDevice empty;
    device_->SetHostDevice(&empty);
    TestRect rect(10, 20, 110, 220);
    EXPECT_EQ(device_->Configure(&rect), kZrkCancelled);
    EXPECT_EQ(rect.reads, 4);
    EXPECT_EQ(device_->GetStatusVariable(kStatusLastEvent), nullptr);
    // Without a host object the handles stay as they are.
    device_->SetHostDevice(&hostDevice_);
    ASSERT_EQ(device_->LoadSettings(kQuietSettings), kZrkOk);
    device_->SetHostDevice(nullptr);
    EXPECT_EQ(device_->Configure(nullptr), kZrkCancelled);
    EXPECT_NE(device_->GetStatusVariable(kStatusLastEvent), nullptr);
}

TEST(CalendarDevicePlacement, DialogIsCentredWithDivisionTowardZero) {
    MVeltranoCalendarDevice::DialogPlacement placement;
    placement.given = true;
    placement.left = 100;
    placement.top = 50;
    placement.right = 1380;
    placement.bottom = 850;
    EXPECT_EQ(placement.X(400), 100 + (1280 - 400) / 2);
    EXPECT_EQ(placement.Y(301), 50 + 249);
    // A dialog larger than the rectangle: -1 / 2 is 0, -3 / 2 is -1.
    placement.left = 0;
    placement.right = 100;
    EXPECT_EQ(placement.X(101), 0);
    EXPECT_EQ(placement.X(103), -1);
}

TEST_F(CalendarDeviceTest, LoadedAddressReachesTheRESTClient) {
    ASSERT_EQ(device_->LoadSettings(
                  "<DeviceData Version=\"1000\"><Setup URL=\"http://10.1.2.3:8080\"/></DeviceData>"),
              kZrkOk);
    EXPECT_EQ(module_.GetRESTClient()->GetHost(), L"10.1.2.3");
    EXPECT_EQ(module_.GetRESTClient()->GetPort(), 8080);
    // The text is read in the ANSI code page (UTF-8 on POSIX, a single-byte page on Windows) and widened.
#if defined(_WIN32)
    ASSERT_EQ(device_->LoadSettings("<DeviceData Version=\"1000\"><Setup URL=\"caf\xE9:81\"/></DeviceData>"),
              kZrkOk);
#else
    ASSERT_EQ(
        device_->LoadSettings("<DeviceData Version=\"1000\"><Setup URL=\"caf\xC3\xA9:81\"/></DeviceData>"),
        kZrkOk);
#endif
    EXPECT_EQ(module_.GetRESTClient()->GetHost(), L"caf\u00e9");
    EXPECT_EQ(module_.GetRESTClient()->GetPort(), 81);
    // Configure hands the address on again, cancelled or not.
    CalendarDeviceSettings settings = device_->GetSettings();
    settings.url = "http://192.0.2.7:7000";
    device_->SetSettings(settings);
    EXPECT_EQ(module_.GetRESTClient()->GetPort(), 81);
    EXPECT_EQ(device_->Configure(nullptr), kZrkCancelled);
    EXPECT_EQ(module_.GetRESTClient()->GetHost(), L"192.0.2.7");
    EXPECT_EQ(module_.GetRESTClient()->GetPort(), 7000);
}

// An address typed in the ANSI code page is saved as it stands and must read back the same, however often the
// settings go round; settings nested too deeply for the parser are refused, not a crash of the host.
// While the setup dialog is open the running device goes on with its own address: what is typed reaches
// the dialog's client only.
TEST_F(CalendarDeviceTest, TheSetupDialogsTypedAddressLeavesTheDevicesAlone) {
    DeviceSetupServices services(&module_, device_->GetRemote());
    EXPECT_EQ(services.Client()->GetPort(), 1);  // it starts from the device's address
    services.SetServerURL("http://10.1.2.3:81");
    EXPECT_EQ(services.Client()->GetHost(), L"10.1.2.3");
    EXPECT_EQ(module_.GetRESTClient()->GetHost(), L"127.0.0.1");
    EXPECT_EQ(module_.GetRESTClient()->GetPort(), 1);
}

TEST_F(CalendarDeviceTest, AnsiAddressSurvivesSaveAndLoadAndDeepSettingsAreRefused) {
    ASSERT_EQ(
        device_->LoadSettings("<DeviceData Version=\"1000\"><Setup URL=\"caf\xE9&amp;x:81\"/></DeviceData>"),
        kZrkOk);
    EXPECT_STREQ(device_->GetSettings().url.Get(), "caf\xE9&x:81");
    for (int round = 0; round < 3; ++round) {
        char* saved = nullptr;
        ASSERT_EQ(device_->SaveSettings(&saved), kZrkOk);
        ASSERT_EQ(device_->LoadSettings(saved), kZrkOk) << saved;
        device_->FreeText(&saved);
        EXPECT_STREQ(device_->GetSettings().url.Get(), "caf\xE9&x:81");
    }

    std::string deep = "<DeviceData Version=\"1000\"><Setup URL=\"elsewhere\"/>";
    for (int i = 0; i < 100000; ++i) deep += "<a>";
    EXPECT_EQ(device_->LoadSettings(deep.c_str()), kZrkBadArgument);
    EXPECT_STREQ(device_->GetSettings().url.Get(), "caf\xE9&x:81");
}

// A host thread loads while the worker runs and commands flow, and another thread takes snapshots as the
// worker does: every snapshot belongs to one load (the sanitizer build also watches for races).
TEST_F(CalendarDeviceTest, SettingsAreReplacedAsOneWhileOtherThreadsRead) {
    ASSERT_EQ(device_->Start(), kZrkOk);
    ASSERT_EQ(device_->SendCommand(MVeltranoCalendarDevice::kDisable, nullptr, 0), kZrkOk);
    ASSERT_EQ(device_->LoadSettings("<DeviceData Version=\"1000\"><Setup RefreshPeriod=\"0\" Lookahead=\"0\" "
                                    "LocationId=\"0\"/></DeviceData>"),
              kZrkOk);
    std::atomic<bool> done{false};
    std::thread loader([&] {
        for (int i = 1; i <= 300; ++i) {
            std::string n = std::to_string(i);
            std::string text = "<DeviceData Version=\"1000\"><Setup Local=\"" + std::to_string(i % 2) +
                               "\" URL=\"http://127.0.0.1:" + n + "\" RefreshPeriod=\"" + n +
                               "\" Lookahead=\"" + n + "\" LocationId=\"" + n + "\"/></DeviceData>";
            EXPECT_EQ(device_->LoadSettings(text.c_str()), kZrkOk);
        }
        done.store(true);
    });
    std::thread commands([&] {
        while (!done.load()) {
            device_->SendCommand(MVeltranoCalendarDevice::kRefresh, nullptr, 0);
            std::this_thread::yield();
        }
    });
    int inconsistent = 0;
    while (!done.load()) {
        CalendarDeviceSettings s = device_->GetSettings();
        if (s.refreshPeriod != s.lookahead || s.lookahead != s.locationId) ++inconsistent;
    }
    loader.join();
    commands.join();
    EXPECT_EQ(inconsistent, 0);
    CalendarDeviceSettings last = device_->GetSettings();
    EXPECT_EQ(last.locationId, 300);
    EXPECT_STREQ(last.url.Get(), "http://127.0.0.1:300");
}

}  // namespace
