// The whole chain: calendar-server serves a calendar planned a few seconds ahead, zrkhost runs the real
// plug-in, and the tasks, variable sets and status variables the host sees are checked.
#include <gtest/gtest.h>
#include <httplib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "ShowRun.h"

#ifndef PLUGIN_PATH
TEST(ShowRun, ActionsFireOnceOnTimeThroughTheHostAndTheStatusVariablesFollow) {
    GTEST_SKIP() << "the plug-in library is not part of this build";
}
#else

using nlohmann::json;
using showrun::Of;

namespace {

std::string TempPath(const std::string& name) {
    return ::testing::TempDir() + "e2e_" + std::to_string(getpid()) + "_" + name;
}

// Milliseconds from the planned instant to the event's "at".
double LateMs(const json& event, uint64_t planned) {
    const uint64_t at = showrun::ParseAt(event.value("at", ""));
    return (double(int64_t(at - planned))) / double(platform::kTicksPerMillisecond);
}

json Action(const std::string& macro, int kind, const std::string& value, uint64_t date) {
    return json::object({{"location_id", 1},
                         {"name", macro},
                         {"macro", macro},
                         {"macro_action", kind},
                         {"macro_data", value},
                         {"date", showrun::DateText(date)}});
}

std::string FromEnvironment(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : fallback;
}

std::vector<std::string> StatusValues(const std::vector<json>& events, const std::string& name) {
    std::vector<std::string> out;
    for (const json& e : Of(events, "status", name)) out.push_back(e.value("value", ""));
    return out;
}

// The calendar and the host file written under `tag`, calendar-server and zrkhost started on them; the
// host may be another one (the Windows one, through a launcher that runs it under Wine):
// ZRK_E2E_ZRKHOST, ZRK_E2E_PLUGIN, ZRK_E2E_LAUNCHER; so may the server (ZRK_E2E_SERVER, through the same
// launcher). The files are removed when the run ends.
struct Show {
    Show(const std::string& tag, const json& data, const json& hostFile)
        : dataPath(TempPath(tag + "calendar.json")), hostPath(TempPath(tag + "host.json")) {
        run.launcher = FromEnvironment("ZRK_E2E_LAUNCHER", "");
        const std::string server = FromEnvironment("ZRK_E2E_SERVER", "");
        if (!server.empty()) run.serverLauncher = run.launcher;
        started = showrun::WriteFile(dataPath, data.dump()) &&
                  showrun::WriteFile(hostPath, hostFile.dump()) &&
                  run.StartServer(server.empty() ? CALENDAR_SERVER_PATH : server, dataPath);
        started =
            started && run.StartHost(FromEnvironment("ZRK_E2E_ZRKHOST", ZRKHOST_PATH),
                                     FromEnvironment("ZRK_E2E_PLUGIN", PLUGIN_PATH), {"--host", hostPath});
    }
    ~Show() {
        std::remove(dataPath.c_str());
        std::remove(hostPath.c_str());
    }
    std::string dataPath, hostPath;
    showrun::ShowRun run;
    bool started = false;
};

}  // namespace

TEST(ShowRun, ActionsFireOnceOnTimeThroughTheHostAndTheStatusVariablesFollow) {
    const uint64_t first = showrun::WholeSecondsFromNow(3);
    const uint64_t second = first + 2 * platform::kTicksPerSecond;
    const uint64_t past = first - 60 * platform::kTicksPerSecond;
    json data = json::object();
    data["locations"] = json::array({json::object({{"location_id", 1}, {"name", "Hall"}})});
    data["actions"] =
        json::array({Action("Show A", 1, "", past), Action("Show A", 1, "", first),
                     Action("Volume", 2, "50", first), Action("Title=Finale", 2, "ignored", second),
                     Action("Note", 3, "", second), Action("Missing task", 1, "", second)});
    json hostFile = json::object();
    hostFile["tasks"] = json::array({"Show A"});
    hostFile["variables"] =
        json::array({json::object({{"name", "Volume"}, {"type", "integer"}, {"value", 5}}),
                     json::object({{"name", "Title"}, {"type", "string"}, {"value", "Opening"}})});
    Show show("", data, hostFile);
    ASSERT_TRUE(show.started);
    showrun::ShowRun& run = show.run;
    // Until five actions have shown in "LastEvent" (after the new day's "None"), at most 15 s.
    const bool done = run.CollectUntil(
        [](const std::vector<json>& events) { return Of(events, "status", "LastEvent").size() >= 6; }, 15000);
    // A moment more, so that a second firing would show.
    run.CollectUntil([](const std::vector<json>&) { return false; }, 1500);
    EXPECT_EQ(run.Stop(), 0);
    ASSERT_TRUE(done) << "the actions did not all fire";
    const std::vector<json>& events = run.events;

    // Each action once, those of one second in either order; the one before the start never.
    auto tasks = Of(events, "task");
    ASSERT_EQ(tasks.size(), 2u);
    if (tasks[0].value("name", "") != "Show A") std::swap(tasks[0], tasks[1]);
    EXPECT_EQ(tasks[0].value("name", ""), "Show A");
    EXPECT_EQ(tasks[0].value("result", -1), 0);
    EXPECT_EQ(tasks[1].value("name", ""), "Missing task");
    EXPECT_NE(tasks[1].value("result", 0), 0);
    const auto volume = Of(events, "set", "Volume");
    ASSERT_EQ(volume.size(), 1u);
    EXPECT_EQ(volume[0].value("value", json()), json(50));
    const auto title = Of(events, "set", "Title");
    ASSERT_EQ(title.size(), 1u);
    EXPECT_EQ(title[0].value("value", ""), "Finale");

    // On time: never early, and well within the pass's second.
    for (const json& e : {tasks[0], volume[0]}) {
        EXPECT_GE(LateMs(e, first), 0.0) << e.dump();
        EXPECT_LT(LateMs(e, first), 1000.0) << e.dump();
    }
    for (const json& e : {title[0], tasks[1]}) {
        EXPECT_GE(LateMs(e, second), 0.0) << e.dump();
        EXPECT_LT(LateMs(e, second), 1000.0) << e.dump();
    }

    // The status variables: "None" at the start (a new day), then the next action, each executed action
    // in turn, and "None" once nothing is left.
    const auto next = StatusValues(events, "NextEvent");
    ASSERT_EQ(next.size(), 4u);
    EXPECT_EQ(next[0], "None");
    EXPECT_TRUE(next[1] == "Show A" || next[1] == "Volume=50") << next[1];
    EXPECT_TRUE(next[2] == "Title=Finale" || next[2] == "Note" || next[2] == "Missing task") << next[2];
    EXPECT_EQ(next[3], "None");
    auto last = StatusValues(events, "LastEvent");
    ASSERT_EQ(last.size(), 6u);
    EXPECT_EQ(last[0], "None");
    std::sort(last.begin() + 1, last.begin() + 3);
    std::sort(last.begin() + 3, last.end());
    EXPECT_EQ(last, (std::vector<std::string>{"None", "Show A", "Volume=50", "Missing task", "Note",
                                              "Title=Finale"}));
    // The action of kind 3 leaves "LastEventAction" as it was: five texts for six shown actions.
    auto lastAction = StatusValues(events, "LastEventAction");
    std::sort(lastAction.begin(), lastAction.end());
    EXPECT_EQ(lastAction,
              (std::vector<std::string>{"", "Set Variable", "Set Variable", "Start Task", "Start Task"}));
    const auto lastTime = StatusValues(events, "LastEventTime");
    ASSERT_EQ(lastTime.size(), 6u);
    EXPECT_EQ(lastTime[1], showrun::DateText(first).substr(11));
    EXPECT_EQ(lastTime[5], showrun::DateText(second).substr(11));
    const auto refreshed = Of(events, "status", "LastRefreshTime");
    ASSERT_EQ(refreshed.size(), 1u);
    EXPECT_TRUE(refreshed[0].contains("hundredths"));
}

// "Sync DB" with the name of a host group, as a host cue sends it after a restart: the group's variables
// reach the server through the plug-in's own transport.
TEST(ShowRun, SyncDbNamingAHostGroupMirrorsItsVariablesIntoTheServer) {
    json data = json::object();
    data["locations"] = json::array({json::object({{"location_id", 1}, {"name", "Hall"}})});
    data["actions"] = json::array();
    json hostFile = json::object();
    hostFile["variables"] =
        json::array({json::object({{"name", "Volume"}, {"type", "integer"}, {"value", 5}}),
                     json::object({{"name", "Title"}, {"type", "string"}, {"value", "Opening"}})});
    hostFile["groups"] = json::array({json::object({{"name", "Stage"}, {"items", {"Volume", "Title"}}})});
    Show show("sync-", data, hostFile);
    ASSERT_TRUE(show.started);
    showrun::ShowRun& run = show.run;
    ASSERT_TRUE(run.Command("sync Stage"));
    httplib::Client server(run.url);
    std::vector<std::string> names;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (names.size() < 2 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        names.clear();
        if (auto answer = server.Get("/apiv1/variable?locationid=1")) {
            const json document = json::parse(answer->body, nullptr, false);
            if (document.is_object() && document["variables"].is_array()) {
                for (const json& v : document["variables"]) names.push_back(v.value("name", ""));
            }
        }
    }
    EXPECT_EQ(run.Stop(), 0);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Title", "Volume"}));
}

#endif
