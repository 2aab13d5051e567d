// A calendar planned in a calendar application: calendar-server reads it from an iCalendar file, zrkhost
// runs the real plug-in against the server, and an event a few seconds ahead starts its task; an event
// added to the file later is served without restarting the server.
#include <gtest/gtest.h>
#include <httplib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "ShowRun.h"
#include "SunTimes.h"

#ifdef PLUGIN_PATH

using nlohmann::json;
using showrun::Of;

namespace {

// A floating iCalendar time: the server's local time.
std::string IcsTime(uint64_t instant) {
    std::string text = showrun::DateText(instant);
    text.erase(std::remove_if(text.begin(), text.end(), [](char c) { return c == '-' || c == ':'; }),
               text.end());
    return text;
}

std::string Calendar(const std::vector<std::pair<std::string, uint64_t>>& events) {
    std::string text = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//e2e//EN\r\nX-WR-CALNAME:Hall\r\n";
    for (const auto& e : events) {
        text += "BEGIN:VEVENT\r\nUID:" + e.first + "\r\nSUMMARY:" + e.first +
                "\r\nDTSTART:" + IcsTime(e.second) + "\r\nEND:VEVENT\r\n";
    }
    return text + "END:VCALENDAR\r\n";
}

// Replaced whole, as calendar applications save.
bool Replace(const std::string& path, const std::string& text) {
    return showrun::WriteFile(path + ".new", text) && std::rename((path + ".new").c_str(), path.c_str()) == 0;
}

}  // namespace

TEST(IcsShowRun, AnEventOfTheCalendarFileStartsItsTaskAndAnEventAddedLaterToo) {
    const std::string base = ::testing::TempDir() + "e2e_ics_" + std::to_string(getpid());
    const std::string icsPath = base + ".ics";
    const std::string hostPath = base + "_host.json";
    const uint64_t first = showrun::WholeSecondsFromNow(4);
    ASSERT_TRUE(Replace(icsPath, Calendar({{"Show A", first}})));
    ASSERT_TRUE(showrun::WriteFile(hostPath, R"({"tasks": ["Show A", "Show B"]})"));

    platform::ChildProcess server;
    ASSERT_TRUE(
        server.Start(CALENDAR_SERVER_PATH, {"--ics", "1=" + icsPath, "--port", "0", "--bind", "127.0.0.1"}));
    showrun::ShowRun run;
    while (server.ReadLine(&run.url, 10000) && run.url.rfind("http://", 0) != 0) {
    }
    ASSERT_EQ(0u, run.url.rfind("http://", 0)) << run.url;
    ASSERT_TRUE(run.StartHost(ZRKHOST_PATH, PLUGIN_PATH, {"--host", hostPath}));
    const bool firstRan =
        run.CollectUntil([](const std::vector<json>& e) { return !Of(e, "task", "Show A").empty(); }, 15000);

    // The file changes under the running server; once it serves the new event, the host is told to refresh.
    const uint64_t second = showrun::WholeSecondsFromNow(5);
    ASSERT_TRUE(Replace(icsPath, Calendar({{"Show A", first}, {"Show B", second}})));
    httplib::Client http(run.url);
    bool served = false;
    for (int i = 0; i < 50 && !served; ++i) {
        auto res = http.Get("/apiv1/calendar/1/actions?date=" + showrun::DateText(second).substr(0, 10));
        served = res && res->body.find("Show B") != std::string::npos;
        if (!served) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    run.Command("refresh");
    const bool secondRan =
        run.CollectUntil([](const std::vector<json>& e) { return !Of(e, "task", "Show B").empty(); }, 15000);
    EXPECT_EQ(run.Stop(), 0);
    server.Terminate();
    EXPECT_EQ(0, server.Wait(5000));
    std::remove(icsPath.c_str());
    std::remove(hostPath.c_str());

    ASSERT_TRUE(firstRan) << "Show A did not run";
    EXPECT_TRUE(served) << "the server did not pick up the changed file";
    ASSERT_TRUE(secondRan) << "Show B did not run";
    const auto a = Of(run.events, "task", "Show A");
    const auto b = Of(run.events, "task", "Show B");
    ASSERT_EQ(1u, a.size());
    ASSERT_EQ(1u, b.size());
    EXPECT_GE(showrun::ParseAt(a[0].value("at", "")), first);
    EXPECT_LT(showrun::ParseAt(a[0].value("at", "")), first + platform::kTicksPerSecond);
    EXPECT_GE(showrun::ParseAt(b[0].value("at", "")), second);
    EXPECT_LT(showrun::ParseAt(b[0].value("at", "")), second + platform::kTicksPerSecond);
}

namespace {

// The equator's longitude ("%.6f") where the sun sets on the local date of `target` at about `target`, and
// that sunset (local instant); false when none is found.
bool LongitudeOfSunset(uint64_t target, std::string* longitude, uint64_t* sunset) {
    calendar_server::SunPlan plan;
    plan.marker.event = calendar_server::SunEvent::kSunset;
    for (int step = 0; step < 12; ++step) {
        bool sunless = false;
        if (!calendar_server::SunTime(plan, target, sunset, &sunless)) {
            plan.where.longitude = std::fmod(plan.where.longitude + 361, 360) - 180;  // no sunset that date
            continue;
        }
        const double late = (double(*sunset) - double(target)) / platform::kTicksPerSecond;
        char text[32];
        std::snprintf(text, sizeof text, "%.6f", plan.where.longitude);
        if (std::fabs(late) < 0.5) return *longitude = text, true;
        // A degree east, four minutes earlier.
        plan.where.longitude = std::remainder(std::strtod(text, nullptr) + late / 240, 360);
    }
    return false;
}

}  // namespace

TEST(IcsShowRun, AnEventPlannedAtSunsetRunsAtTheSunsetOfItsDate) {
    const std::string base = ::testing::TempDir() + "e2e_sun_" + std::to_string(getpid());
    const std::string icsPath = base + ".ics";
    const std::string hostPath = base + "_host.json";
    std::string longitude;
    uint64_t sunset = 0;
    ASSERT_TRUE(LongitudeOfSunset(showrun::WholeSecondsFromNow(8), &longitude, &sunset));
    // Planned at noon of that date; served at the sunset's whole second.
    const uint64_t noon = sunset - sunset % platform::kTicksPerDay + 12 * 3600 * platform::kTicksPerSecond;
    const uint64_t planned = sunset - sunset % platform::kTicksPerSecond;
    ASSERT_TRUE(Replace(icsPath, Calendar({{"Lights @sunset", noon}})));
    ASSERT_TRUE(showrun::WriteFile(hostPath, R"({"tasks": ["Lights"]})"));

    platform::ChildProcess server;
    ASSERT_TRUE(server.Start(CALENDAR_SERVER_PATH, {"--ics", "1=" + icsPath, "--geo", "1=0," + longitude,
                                                    "--port", "0", "--bind", "127.0.0.1"}));
    showrun::ShowRun run;
    while (server.ReadLine(&run.url, 10000) && run.url.rfind("http://", 0) != 0) {
    }
    ASSERT_EQ(0u, run.url.rfind("http://", 0)) << run.url;
    ASSERT_TRUE(run.StartHost(ZRKHOST_PATH, PLUGIN_PATH, {"--host", hostPath}));
    const bool ran =
        run.CollectUntil([](const std::vector<json>& e) { return !Of(e, "task", "Lights").empty(); }, 20000);
    EXPECT_EQ(run.Stop(), 0);
    server.Terminate();
    EXPECT_EQ(0, server.Wait(5000));
    std::remove(icsPath.c_str());
    std::remove(hostPath.c_str());

    ASSERT_TRUE(ran) << "Lights did not run (longitude " << longitude << ", sunset "
                     << showrun::DateText(sunset) << ")";
    const auto lights = Of(run.events, "task", "Lights");
    ASSERT_EQ(1u, lights.size());
    EXPECT_GE(showrun::ParseAt(lights[0].value("at", "")), planned);
    EXPECT_LT(showrun::ParseAt(lights[0].value("at", "")), planned + platform::kTicksPerSecond);
}

#endif  // PLUGIN_PATH
