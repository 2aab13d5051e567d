// How late the plug-in fires its actions, seen from the host: calendar-server serves 60 actions planned over
// 30 seconds (two at each second: a task and a variable set), zrkhost runs the real plug-in against it, and
// each action's lateness is the time of its host call less its planned time. Then the plug-in sits idle
// for 60 seconds and its processor use is measured. A second run puts a loopback relay before the server
// that holds every answer for several seconds, and asks for a refresh every two seconds while the actions
// come due, so that an exchange is nearly always in progress: the firing must not wait for it.
// Targets: no action early, p99 lateness at most 20 ms in both runs; idle processor use at most 0.1 % of
// one core.
//
//   bench_show_lateness [--actions N] [--idle SECONDS] [--slow-ms MS] [--zrkhost PATH] [--plugin PATH]
//                       [--launcher PATH] [--server PATH]
//
// --zrkhost and --plugin measure another host and plug-in (the Windows ones), --launcher runs the host
// through a program (the one that runs it under Wine), --server another calendar server (the Windows one,
// through the same launcher).
#include <httplib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ShowRun.h"
#include "platform/Sync.h"

using nlohmann::json;

namespace {

double Percentile(const std::vector<double>& sorted, double p) {
    if (sorted.empty()) return 0;
    const size_t index = std::min(sorted.size() - 1, size_t(p / 100.0 * double(sorted.size() - 1) + 0.5));
    return sorted[index];
}

// A relay on a loopback port that passes each GET on to the server and hands its answer back `delayMs`
// later: a slow calendar server.
class SlowRelay {
public:
    SlowRelay(const std::string& upstream, uint32_t delayMs) : upstream_(upstream), delayMs_(delayMs) {
        relay_.Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
            httplib::Client client(upstream_);
            auto answer = client.Get(request.target);
            stop_.Wait(delayMs_);
            if (!answer) {
                response.status = 502;
                return;
            }
            response.status = answer->status;
            response.set_content(answer->body, answer->get_header_value("Content-Type"));
        });
    }
    ~SlowRelay() {
        stop_.Set();
        if (thread_.joinable()) {
            relay_.stop();
            thread_.join();
        }
    }
    // The relay's address, empty when no port could be had.
    std::string Start() {
        const int port = relay_.bind_to_any_port("127.0.0.1");
        if (port <= 0) return std::string();
        thread_ = std::thread([this] { relay_.listen_after_bind(); });
        while (!relay_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return "http://127.0.0.1:" + std::to_string(port);
    }

private:
    std::string upstream_;
    uint32_t delayMs_;
    httplib::Server relay_;
    std::thread thread_;
    platform::MEvent stop_{true, false};
};

// One show: the actions planned from a few seconds ahead, their lateness printed. With `slowMs`, every
// answer of the server comes that much later and a refresh is asked for every two seconds. `whileRunning`
// runs with the show still up, after the figures (the idle measurement).
// The host program, the plug-in it loads, and the program that runs the host (empty: none).
struct HostUnderTest {
    std::string zrkhost = ZRKHOST_PATH, plugin = PLUGIN_PATH, launcher;
    std::string server;  // empty: this build's calendar-server
};

bool RunShow(const char* title, const HostUnderTest& host, int actions, uint32_t slowMs,
             const std::function<void(showrun::ShowRun&)>& whileRunning) {
    // Two actions a second from a few seconds ahead: the plug-in has started and read the calendar by then.
    const uint64_t first = showrun::WholeSecondsFromNow(4 + int(slowMs / 1000));

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
    json hostFile = json::object();
    hostFile["tasks"] = tasks;
    hostFile["variables"] =
        json::array({json::object({{"name", "Level"}, {"type", "integer"}, {"value", 0}})});

    const std::string folder =
        (std::filesystem::temp_directory_path() / ("show_lateness_" + std::to_string(first))).string();
    std::filesystem::create_directories(folder);
    const std::string dataPath = folder + "/calendar.json", hostPath = folder + "/host.json";
    if (!showrun::WriteFile(dataPath, data.dump()) || !showrun::WriteFile(hostPath, hostFile.dump())) {
        std::fprintf(stderr, "bench_show_lateness: cannot write %s\n", folder.c_str());
        return false;
    }

    showrun::ShowRun run;
    std::unique_ptr<SlowRelay> relay;
    if (!host.server.empty()) run.serverLauncher = host.launcher;
    bool started = run.StartServer(host.server.empty() ? CALENDAR_SERVER_PATH : host.server, dataPath);
    if (started && slowMs > 0) {
        relay.reset(new SlowRelay(run.url, slowMs));
        run.url = relay->Start();
        started = !run.url.empty();
    }
    run.launcher = host.launcher;
    if (!started || !run.StartHost(host.zrkhost, host.plugin, {"--host", hostPath})) {
        std::fprintf(stderr, "bench_show_lateness: calendar-server, the relay or zrkhost did not start\n");
        return false;
    }
    const auto fired = [&](const std::vector<json>& events) {
        return showrun::Of(events, "task").size() + showrun::Of(events, "set").size() >= size_t(actions);
    };
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds((actions / 2 + 15) * 1000 + slowMs);
    bool all = false;
    while (!all && std::chrono::steady_clock::now() < deadline) {
        // A slow server: a refresh in progress nearly all the time.
        if (slowMs > 0) run.Command("refresh");
        all = run.CollectUntil(fired, slowMs > 0 ? 2000 : uint32_t((actions / 2 + 15) * 1000));
    }

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
    std::printf("%s: %zu of %d actions fired (%s), %d unexpected host calls, %ld early\n", title, late.size(),
                actions, all ? "all" : "NOT ALL", unknown, early);
    if (!late.empty()) {
        std::printf(
            "  lateness ms: min %.0f  median %.0f  p99 %.0f  max %.0f   (target: p99 <= 20, none early)\n",
            late.front(), Percentile(late, 50), Percentile(late, 99), late.back());
    }

    if (whileRunning) whileRunning(run);
    const int code = run.Stop();
    std::filesystem::remove_all(folder);
    const bool ok = all && early == 0 && unknown == 0 && code == 0;
    return ok;
}

// Idle: nothing more is planned; only the worker's waits and the process-wide timer run.
void MeasureIdle(showrun::ShowRun& run, int idleSeconds) {
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
}

}  // namespace

int main(int argc, char** argv) {
    int actions = 60;
    int idleSeconds = 60;
    uint32_t slowMs = 5000;
    HostUnderTest host;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--actions")) actions = std::max(2, std::atoi(argv[i + 1]));
        if (!std::strcmp(argv[i], "--idle")) idleSeconds = std::max(1, std::atoi(argv[i + 1]));
        if (!std::strcmp(argv[i], "--slow-ms")) slowMs = uint32_t(std::max(1, std::atoi(argv[i + 1])));
        if (!std::strcmp(argv[i], "--zrkhost")) host.zrkhost = argv[i + 1];
        if (!std::strcmp(argv[i], "--plugin")) host.plugin = argv[i + 1];
        if (!std::strcmp(argv[i], "--launcher")) host.launcher = argv[i + 1];
        if (!std::strcmp(argv[i], "--server")) host.server = argv[i + 1];
    }
    const bool quick = RunShow("show lateness", host, actions, 0,
                               [idleSeconds](showrun::ShowRun& run) { MeasureIdle(run, idleSeconds); });
    char title[96];
    std::snprintf(title, sizeof title, "show lateness, every answer %u ms late", slowMs);
    const bool slow = RunShow(title, host, actions, slowMs, nullptr);
    return quick && slow ? 0 : 1;
}
