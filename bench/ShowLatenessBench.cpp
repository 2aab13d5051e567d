// How late the plug-in fires its actions, seen from the host: calendar-server serves 60 actions planned over
// 30 seconds (two at each second: a task and a variable set), zrkhost runs the real plug-in against it, and
// each action's lateness is the time of its host call less its planned time. Then the plug-in sits idle
// for 60 seconds and its processor use is measured.
// Targets: no action early, p99 lateness at most 20 ms; idle processor use at most 0.1 % of one core.
//
//   bench_show_lateness [--actions N] [--idle SECONDS] [--zrkhost PATH] [--plugin PATH] [--launcher PATH]
//
// --zrkhost and --plugin measure another host and plug-in (the Windows ones), --launcher runs the host
// through a program (the one that runs it under Wine).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "ShowRun.h"

using nlohmann::json;

namespace {

double Percentile(const std::vector<double>& sorted, double p) {
    if (sorted.empty()) return 0;
    const size_t index = std::min(sorted.size() - 1, size_t(p / 100.0 * double(sorted.size() - 1) + 0.5));
    return sorted[index];
}

}  // namespace

int main(int argc, char** argv) {
    int actions = 60;
    int idleSeconds = 60;
    std::string zrkhost = ZRKHOST_PATH, plugin = PLUGIN_PATH, launcher;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--actions")) actions = std::max(2, std::atoi(argv[i + 1]));
        if (!std::strcmp(argv[i], "--idle")) idleSeconds = std::max(1, std::atoi(argv[i + 1]));
        if (!std::strcmp(argv[i], "--zrkhost")) zrkhost = argv[i + 1];
        if (!std::strcmp(argv[i], "--plugin")) plugin = argv[i + 1];
        if (!std::strcmp(argv[i], "--launcher")) launcher = argv[i + 1];
    }

    // Two actions a second from 4 s ahead: the plug-in has started and read the calendar by then.
    const uint64_t first = showrun::WholeSecondsFromNow(4);
    std::map<std::string, uint64_t> planned;  // "task:T07" or "set:7" -> planned instant
    json list = json::array();
    json tasks = json::array();
    for (int i = 0; i < actions; ++i) {
        const uint64_t at = first + uint64_t(i / 2) * platform::kTicksPerSecond;
        const std::string index = std::to_string(i);
        json action =
            json::object({{"location_id", 1}, {"name", "a" + index}, {"date", showrun::DateText(at)}});
        if (i % 2 == 0) {
            action["macro"] = "T" + index;
            action["macro_action"] = 1;
            tasks.push_back("T" + index);
            planned["task:T" + index] = at;
        } else {
            action["macro"] = "Level";
            action["macro_action"] = 2;
            action["macro_data"] = index;
            planned["set:" + index] = at;
        }
        list.push_back(action);
    }
    json data = json::object();
    data["locations"] = json::array({json::object({{"location_id", 1}, {"name", "Bench"}})});
    data["actions"] = list;
    json host = json::object();
    host["tasks"] = tasks;
    host["variables"] = json::array({json::object({{"name", "Level"}, {"type", "integer"}, {"value", 0}})});

    const std::string folder =
        (std::filesystem::temp_directory_path() / ("show_lateness_" + std::to_string(first))).string();
    std::filesystem::create_directories(folder);
    const std::string dataPath = folder + "/calendar.json", hostPath = folder + "/host.json";
    if (!showrun::WriteFile(dataPath, data.dump()) || !showrun::WriteFile(hostPath, host.dump())) {
        std::fprintf(stderr, "bench_show_lateness: cannot write %s\n", folder.c_str());
        return 1;
    }

    showrun::ShowRun run;
    run.launcher = launcher;
    if (!run.StartServer(CALENDAR_SERVER_PATH, dataPath) ||
        !run.StartHost(zrkhost, plugin, {"--host", hostPath})) {
        std::fprintf(stderr, "bench_show_lateness: calendar-server or zrkhost did not start\n");
        return 1;
    }
    const auto fired = [&](const std::vector<json>& events) {
        return showrun::Of(events, "task").size() + showrun::Of(events, "set").size() >= size_t(actions);
    };
    const uint32_t span = uint32_t(actions / 2 + 15) * 1000;
    const bool all = run.CollectUntil(fired, span);

    std::vector<double> late;
    int unknown = 0;
    for (const json& e : run.events) {
        if (!e.is_object()) continue;
        const std::string what = e.value("what", "");
        std::string key;
        if (what == "task") key = "task:" + e.value("name", "");
        if (what == "set" && e.contains("value")) key = "set:" + e["value"].dump();
        if (key.empty()) continue;
        auto it = planned.find(key);
        if (it == planned.end()) {
            ++unknown;
            continue;
        }
        const int64_t delta = int64_t(showrun::ParseAt(e.value("at", "")) - it->second);
        late.push_back(double(delta) / double(platform::kTicksPerMillisecond));
        planned.erase(it);  // a second firing of the same action would count as unknown
    }
    std::sort(late.begin(), late.end());
    const long early = std::count_if(late.begin(), late.end(), [](double ms) { return ms < 0; });
    std::printf("show lateness: %zu of %d actions fired (%s), %d unexpected host calls, %ld early\n",
                late.size(), actions, all ? "all" : "NOT ALL", unknown, early);
    if (!late.empty()) {
        std::printf(
            "  lateness ms: min %.0f  median %.0f  p99 %.0f  max %.0f   (target: p99 <= 20, none early)\n",
            late.front(), Percentile(late, 50), Percentile(late, 99), late.back());
    }

    // Idle: nothing more is planned; only the worker's waits and the process-wide timer run.
    const int64_t before = run.host().CpuTimeUs();
    const auto start = std::chrono::steady_clock::now();
    run.CollectUntil([](const std::vector<json>&) { return false; }, uint32_t(idleSeconds) * 1000);
    const int64_t after = run.host().CpuTimeUs();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (before >= 0 && after >= before) {
        std::printf(
            "  idle processor use over %.0f s: %.3f ms a second = %.4f %% of one core   (target: <= 0.1 "
            "%%)\n",
            seconds, double(after - before) / 1000.0 / seconds,
            double(after - before) / (seconds * 1e6) * 100.0);
    } else {
        std::printf("  idle processor use: not measurable here\n");
    }
    const int code = run.Stop();
    std::filesystem::remove_all(folder);
    const bool ok = all && early == 0 && unknown == 0 && code == 0;
    return ok ? 0 : 1;
}
