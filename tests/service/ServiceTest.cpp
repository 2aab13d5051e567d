// The platform's service layer: on Windows this program registers itself as a service, which the service
// manager starts with --as-service; elsewhere every service call answers "not supported".
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <thread>

#include "platform/HttpBackend.h"
#include "platform/Service.h"
#include "platform/StopRequest.h"

namespace {

namespace fs = std::filesystem;

const char kName[] = "VeltranoCalendarServiceTest";

// The service's side: says it started in `marker`, and at the stop request behaves like a server whose
// calendar reader never ends, so that only the watchdog's ExitNow ends the process.
int ServeAsService(const std::string& marker) {
    std::ofstream(marker) << "started";
    platform::ReportServiceRunning();
    platform::WaitStopRequest();
    std::thread([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        platform::ReportServiceStopped(0);
        platform::ExitNow(0);
    }).detach();
    for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
}

bool Eventually(const std::function<bool()>& condition, int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

}  // namespace

TEST(Service, WithoutAServiceManagerEveryCallSaysSo) {
    if (platform::ServicesSupported()) GTEST_SKIP() << "this system has a service manager";
    EXPECT_EQ(platform::ServiceResult::kNotSupported, platform::CheckServiceInstall(kName).result);
    EXPECT_EQ(platform::ServiceResult::kNotSupported,
              platform::InstallService({kName, kName, "", {}, ""}).result);
    EXPECT_EQ(platform::ServiceResult::kNotSupported, platform::UninstallService(kName).result);
    int code = 0;
    EXPECT_FALSE(platform::RunAsService(
        kName, [] { return 0; }, &code));
}

// Registered, started and running; a second registration is refused and changes nothing; a stop ends the
// process within its watchdog's time even though its work never ends; removed for good.
TEST(Service, InstallsRunsRefusesASecondAndStopsPromptly) {
    if (!platform::ServicesSupported()) GTEST_SKIP() << "no service manager here";
    const fs::path folder = fs::temp_directory_path() / kName;
    fs::create_directories(folder);
    const fs::path marker = folder / "started";
    fs::remove(marker);
    platform::UninstallService(kName);  // one left by an interrupted run

    platform::ServiceSpec spec{kName,
                               "Service layer test",
                               "A test of the service layer.",
                               {"--as-service", marker.string()},
                               folder.string()};
    const platform::ServiceOutcome installed = platform::InstallService(spec);
    ASSERT_EQ(platform::ServiceResult::kDone, installed.result) << installed.message;
    EXPECT_TRUE(fs::exists(marker)) << installed.message;
    std::cout << installed.message << "\n";

    const platform::ServiceOutcome again = platform::InstallService(spec);
    EXPECT_EQ(platform::ServiceResult::kAlreadyInstalled, again.result) << again.message;
    EXPECT_NE(std::string::npos, again.message.find("nothing was changed"));

    fs::remove(marker);
    const auto stopAsked = std::chrono::steady_clock::now();
    const platform::ServiceOutcome removed = platform::UninstallService(kName);
    const auto stopMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - stopAsked)
            .count();
    EXPECT_EQ(platform::ServiceResult::kDone, removed.result) << removed.message;
    // The watchdog ends it at 1.5 s; the rest is the manager's bookkeeping.
    EXPECT_LT(stopMs, 4000);
    std::cout << "service stopped and removed in " << stopMs << " ms\n";
    EXPECT_TRUE(Eventually(
        [] { return platform::CheckServiceInstall(kName).result == platform::ServiceResult::kDone; }, 5000));
    EXPECT_EQ(platform::ServiceResult::kNotInstalled, platform::UninstallService(kName).result);
    // Not restarted by its recovery actions: the stop was a clean one.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_FALSE(fs::exists(marker));
    fs::remove_all(folder);
}

// A service whose program fails at its start is removed again: nothing is left registered half-way.
TEST(Service, AServiceThatFailsAtItsStartIsRemovedAgain) {
    if (!platform::ServicesSupported()) GTEST_SKIP() << "no service manager here";
    platform::UninstallService(kName);
    const platform::ServiceOutcome installed =
        platform::InstallService({kName, "Service layer test", "", {"--as-failing-service"}, ""});
    EXPECT_EQ(platform::ServiceResult::kFailed, installed.result) << installed.message;
    EXPECT_NE(std::string::npos, installed.message.find("removed again")) << installed.message;
    EXPECT_TRUE(Eventually(
        [] { return platform::CheckServiceInstall(kName).result == platform::ServiceResult::kDone; }, 5000));
}

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--as-service") {
        const std::string marker = argv[2];
        int code = 1;
        return platform::RunAsService(
                   kName, [&] { return ServeAsService(marker); }, &code)
                   ? code
                   : 2;
    }
    if (argc == 2 && std::string(argv[1]) == "--as-failing-service") {
        int code = 1;
        return platform::RunAsService(
                   kName, [] { return 3; }, &code)
                   ? code
                   : 2;
    }
    platform::HttpProxySetting environment;
    environment.fromEnvironment = true;
    platform::SetHttpProxyForTesting(&environment);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
