// soak: runs the plug-in inside zrkhost for a set time against a calendar server that misbehaves at
// random, while commands, stop / start cycles and actions a second apart keep coming; then judges that
// every action of the correctly served list fired exactly once and never early, that no action the device
// held before its time fired more than a second late, that every Stop returned within two seconds and
// that zrkhost's memory did not grow from the first to the last minute, and that after bursts of "Sync DB"
// naming several groups the server holds the variables of the group named last. Prints its figures; exit code
// 0 when everything held, 1 otherwise, 2 for a bad command line.
//
//   soak [--seconds N] [--seed N] [--zrkhost PATH] [--plugin PATH] [--log FILE]
//
// --log writes a time line for people: zrkhost's lines, the commands written and the server's answers.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "SoakLedger.h"
#include "SoakServer.h"
#include "platform/ChildProcess.h"
#include "platform/Clock.h"

namespace {

using Clock = std::chrono::steady_clock;
using soak::AnswerMode;

// A Stop cancels the exchange in progress: it never waits for the server.
constexpr uint32_t kStopBoundMs = 2000;
// Exchanges run beside the firing: an action the device held before its time is never later than this.
constexpr uint64_t kHeldLateBoundTicks = 1000 * soak::kTicksPerMs;
// Memory may settle a little after the first minute; more than this is growth.
constexpr uint64_t kMemorySlackBytes = 4ULL << 20;
// The last "Sync DB" of the run stands within this, whatever exchange holds the slot before it.
constexpr uint32_t kLastSyncBoundMs = 90000;

// The host's user groups the "Sync DB" bursts name, and their variables (besides "Counter" of "Stage").
struct SyncGroup {
    const char* name;
    std::vector<std::string> items;
};
const std::vector<SyncGroup> kSyncGroups = {
    {"Stage", {"Counter"}},
    {"Lobby", {"LobbyDoors", "LobbyLights"}},
    {"Foyer", {"FoyerBar"}},
    {"Gallery", {"GalleryA", "GalleryB", "GalleryC"}},
};

struct Options {
    int seconds = 600;
    uint32_t seed = 0;
    bool seedGiven = false;
    std::string zrkhost;
    std::string plugin;
    std::string log;
};

// The optional time line; every thread writes whole lines.
class TimeLine {
public:
    void Open(const std::string& path) {
        if (!path.empty()) file_ = std::fopen(path.c_str(), "w");
    }
    ~TimeLine() {
        if (file_) std::fclose(file_);
    }
    void Write(const std::string& what) {
        if (!file_) return;
        std::lock_guard<std::mutex> lock(mutex_);
        std::fprintf(file_, "%s %s\n", soak::DateText(platform::LocalInstantNow()).c_str(), what.c_str());
        std::fflush(file_);
    }

private:
    std::mutex mutex_;
    std::FILE* file_ = nullptr;
};
TimeLine timeLine;

bool ParseOptions(int argc, char** argv, Options* o) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (i + 1 >= argc) return false;
        std::string value = argv[++i];
        if (arg == "--seconds") {
            o->seconds = std::atoi(value.c_str());
            if (o->seconds < 20) return false;
        } else if (arg == "--seed") {
            o->seed = static_cast<uint32_t>(std::strtoul(value.c_str(), nullptr, 10));
            o->seedGiven = true;
        } else if (arg == "--zrkhost") {
            o->zrkhost = value;
        } else if (arg == "--plugin") {
            o->plugin = value;
        } else if (arg == "--log") {
            o->log = value;
        } else {
            return false;
        }
    }
    if (o->zrkhost.empty()) {
        o->zrkhost = (std::filesystem::path(argv[0]).parent_path() / "zrkhost").string();
    }
    return true;
}

// What the reader thread learns from zrkhost's lines, for the driver to wait on.
struct HostState {
    std::mutex mutex;
    std::condition_variable changed;
    int starts = 0;
    int stops = 0;
    int lines = 0;
    int errors = 0;
    int nonJson = 0;
    std::vector<std::string> firstErrors;
};

void ReadHost(platform::ChildProcess* host, soak::SoakLedger* ledger, HostState* state) {
    std::string line;
    for (;;) {
        if (!host->ReadLine(&line, 1000)) {
            if (host->Ended()) break;
            continue;
        }
        timeLine.Write("zrkhost " + line);
        nlohmann::json event = nlohmann::json::parse(line, nullptr, false);
        std::lock_guard<std::mutex> lock(state->mutex);
        ++state->lines;
        if (!event.is_object()) {
            ++state->nonJson;
            continue;
        }
        std::string what = event.value("what", "");
        uint64_t at = soak::ParseHostTime(event.value("at", ""));
        if (what == "task") {
            ledger->TaskStarted(event.value("name", ""), at);
        } else if (what == "set") {
            const nlohmann::json& value = event["value"];
            ledger->VariableSet(event.value("name", ""),
                                value.is_string() ? value.get<std::string>() : value.dump(), at);
        } else if (what == "result" && event.value("call", "") == "Start") {
            ledger->RunStarted(at);
            ++state->starts;
        } else if (what == "result" && event.value("call", "") == "Stop") {
            ++state->stops;
        } else if (what == "error") {
            ++state->errors;
            if (state->firstErrors.size() < 5) state->firstErrors.push_back(event.value("message", ""));
        }
        state->changed.notify_all();
    }
    std::lock_guard<std::mutex> lock(state->mutex);
    state->changed.notify_all();
}

struct MemorySample {
    double second;
    uint64_t bytes;
};

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, &options)) {
        std::fprintf(stderr,
                     "usage: soak [--seconds N (at least 20)] [--seed N] [--zrkhost PATH] [--plugin PATH]\n");
        return 2;
    }
    if (!options.seedGiven) options.seed = static_cast<uint32_t>(platform::UtcInstantNow() / 10000);
    std::mt19937 random(options.seed);
    auto between = [&random](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random);
    };
    std::printf("soak: %d s, seed %u\n", options.seconds, options.seed);
    std::fflush(stdout);

    // The plan: an action every second from a few seconds after now to shortly before the end; every
    // fourth one sets a variable, the others start tasks.
    const uint64_t second = platform::kTicksPerSecond;
    uint64_t now = platform::LocalInstantNow();
    uint64_t first = (now / second + 5) * second;
    std::vector<soak::PlannedAction> plan;
    nlohmann::json tasks = nlohmann::json::array();
    for (int i = 0; i < options.seconds - 8; ++i) {
        soak::PlannedAction a;
        a.index = i;
        a.instant = first + static_cast<uint64_t>(i) * second;
        a.setVariable = i % 4 == 3;
        if (a.setVariable) {
            a.macro = "Counter";
            a.data = std::to_string(i);
        } else {
            a.macro = "Soak " + std::to_string(i);
            tasks.push_back(a.macro);
        }
        plan.push_back(a);
    }
    nlohmann::json variables = nlohmann::json::array();
    nlohmann::json groups = nlohmann::json::array();
    for (const SyncGroup& g : kSyncGroups) {
        for (const std::string& item : g.items) {
            variables.push_back({{"name", item}, {"type", "integer"}, {"value", item == "Counter" ? -1 : 0}});
        }
        groups.push_back({{"name", g.name}, {"items", g.items}});
    }
    nlohmann::json hostFile = {{"tasks", tasks}, {"variables", variables}, {"groups", groups}};
    std::string hostPath =
        (std::filesystem::temp_directory_path() / ("soak-host-" + std::to_string(options.seed) + ".json"))
            .string();
    std::ofstream(hostPath) << hostFile.dump();

    // correct, slow, garbage, 500, truncated, silent, 404, endless
    soak::SoakServer server(plan, {40, 15, 10, 12, 12, 8, 8, 6}, options.seed);
    timeLine.Open(options.log);
    server.OnAnswer(
        [](AnswerMode mode) { timeLine.Write(std::string("server answers ") + soak::AnswerModeName(mode)); });
    int port = server.Start();
    if (port == 0) {
        std::fprintf(stderr, "soak: no loopback port for the server\n");
        return 1;
    }

    soak::SoakLedger ledger(plan);
    HostState state;
    platform::ChildProcess host;
    std::vector<std::string> args = {
        "--host",      hostPath, "--server",  "http://127.0.0.1:" + std::to_string(port),
        "--location",  "1",      "--refresh", "1",
        "--lookahead", "0"};
    if (!options.plugin.empty()) args.insert(args.begin(), {"--plugin", options.plugin});
    if (!host.Start(options.zrkhost, args, true)) {
        std::fprintf(stderr, "soak: cannot start %s\n", options.zrkhost.c_str());
        return 1;
    }
    std::thread reader(ReadHost, &host, &ledger, &state);

    const Clock::time_point begin = Clock::now();
    const Clock::time_point end = begin + std::chrono::seconds(options.seconds);
    auto elapsed = [&begin] { return std::chrono::duration<double>(Clock::now() - begin).count(); };
    std::vector<MemorySample> memory;
    Clock::time_point nextSample = begin;
    // Sleeps in small steps, sampling zrkhost's memory once a second.
    auto idle = [&](int ms) {
        Clock::time_point until = Clock::now() + std::chrono::milliseconds(ms);
        while (Clock::now() < until) {
            if (Clock::now() >= nextSample) {
                memory.push_back({elapsed(), host.ResidentBytes()});
                nextSample += std::chrono::seconds(1);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(std::min(50, ms)));
        }
    };
    // Waits until the reader has seen the count reach `target`; the milliseconds waited, or -1.
    auto waitFor = [&](int HostState::*counter, int target, uint32_t limitMs) -> long {
        Clock::time_point start = Clock::now();
        std::unique_lock<std::mutex> lock(state.mutex);
        bool ok = state.changed.wait_for(lock, std::chrono::milliseconds(limitMs),
                                         [&] { return state.*counter >= target; });
        if (!ok) return -1;
        return static_cast<long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
    };
    auto write = [&](const std::string& command) {
        timeLine.Write("soak writes " + command);
        return host.Write(command + "\n");
    };
    // A burst of "Sync DB" commands naming groups at random, a few milliseconds apart; the group named
    // last, which must be the one that stands.
    int syncBursts = 0;
    // With `other`, the group named last is not the one the server holds now, so that it must change.
    auto syncBurst = [&](bool other) -> const SyncGroup& {
        const SyncGroup* last = nullptr;
        for (int n = between(2, 5); n > 0; --n) {
            last = &kSyncGroups[static_cast<size_t>(between(0, int(kSyncGroups.size()) - 1))];
            while (other && n == 1) {
                std::vector<std::string> items = last->items;
                std::sort(items.begin(), items.end());
                if (items != server.VariableNames()) break;
                last = &kSyncGroups[static_cast<size_t>(between(0, int(kSyncGroups.size()) - 1))];
            }
            write(std::string("sync ") + last->name);
            std::this_thread::sleep_for(std::chrono::milliseconds(between(0, 60)));
        }
        ++syncBursts;
        return *last;
    };

    bool failed = false;
    std::vector<std::string> failures;
    if (waitFor(&HostState::starts, 1, 20000) < 0) {
        failures.push_back("zrkhost did not start the device");
        failed = true;
    }

    int restarts = 0;
    long slowestStopMs = 0;
    int commands = 0;
    Clock::time_point nextCycle = Clock::now() + std::chrono::seconds(between(8, 16));
    while (!failed && Clock::now() < end) {
        if (Clock::now() >= nextCycle) {
            // A stop / start cycle; nothing else is written while zrkhost waits in Stop.
            int stopsBefore;
            {
                std::lock_guard<std::mutex> lock(state.mutex);
                stopsBefore = state.stops;
            }
            uint64_t stopAt = platform::LocalInstantNow();
            {
                std::lock_guard<std::mutex> lock(state.mutex);
                ledger.StopWritten(stopAt);
            }
            write("stop");
            long ms = waitFor(&HostState::stops, stopsBefore + 1, 120000);
            if (ms < 0 || ms > static_cast<long>(kStopBoundMs)) {
                failures.push_back("Stop took " +
                                   (ms < 0 ? std::string("more than 120 s") : std::to_string(ms) + " ms"));
                failed = ms < 0;
            }
            slowestStopMs = std::max(slowestStopMs, ms < 0 ? 120000L : ms);
            idle(between(300, 1500));
            int startsBefore;
            {
                std::lock_guard<std::mutex> lock(state.mutex);
                startsBefore = state.starts;
            }
            write("start");
            if (waitFor(&HostState::starts, startsBefore + 1, 20000) < 0) {
                failures.push_back("Start gave no result");
                failed = true;
            }
            ++restarts;
            nextCycle = Clock::now() + std::chrono::seconds(between(8, 16));
            continue;
        }
        int pick = between(0, 99);
        if (pick < 45) {
            write("refresh");
        } else if (pick < 60) {
            write("enable");
        } else if (pick < 70) {
            syncBurst(false);
        } else if (pick < 80) {
            uint64_t from = platform::LocalInstantNow();
            write("disable");
            idle(between(200, 800));
            write("enable");
            std::lock_guard<std::mutex> lock(state.mutex);
            ledger.Paused(from, platform::LocalInstantNow());
        } else if (pick < 90) {
            write("save");
        } else {
            write("definition");
        }
        ++commands;
        idle(between(400, 2500));
    }

    // A last burst: the server must end with the variables of the group named last.
    long lastSyncMs = -1;
    std::vector<std::string> lastGroupItems;
    if (!failed) {
        const Clock::time_point burstStart = Clock::now();
        const SyncGroup& newest = syncBurst(true);
        lastGroupItems = newest.items;
        std::sort(lastGroupItems.begin(), lastGroupItems.end());
        while (Clock::now() - burstStart < std::chrono::milliseconds(kLastSyncBoundMs)) {
            if (server.VariableNames() == lastGroupItems) {
                lastSyncMs = static_cast<long>(
                    std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - burstStart).count());
                break;
            }
            idle(100);
        }
        if (lastSyncMs < 0) {
            std::string held;
            for (const std::string& name : server.VariableNames()) held += " " + name;
            failures.push_back(std::string("after the last Sync DB burst (ending with ") + newest.name +
                               ") the server holds:" + held);
        }
    }

    // The last sample before the end, then the end itself (quit stops the device once more).
    memory.push_back({elapsed(), host.ResidentBytes()});
    int stopsBefore;
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        stopsBefore = state.stops;
    }
    uint64_t quitAt = platform::LocalInstantNow();
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        ledger.StopWritten(quitAt);
    }
    write("quit");
    long quitStopMs = waitFor(&HostState::stops, stopsBefore + 1, 120000);
    if (quitStopMs < 0 || quitStopMs > static_cast<long>(kStopBoundMs)) {
        failures.push_back("the last Stop took " + (quitStopMs < 0 ? std::string("more than 120 s")
                                                                   : std::to_string(quitStopMs) + " ms"));
    }
    slowestStopMs = std::max(slowestStopMs, quitStopMs < 0 ? 120000L : quitStopMs);
    host.CloseInput();
    int exitCode = host.Wait(60000);
    reader.join();
    server.Stop();
    std::filesystem::remove(hostPath);
    if (exitCode != 0) failures.push_back("zrkhost ended with " + std::to_string(exitCode));

    // Memory: at the end of the first minute (a third of a shorter soak) against the last sample.
    double firstMark = std::min(60.0, options.seconds / 3.0);
    uint64_t firstBytes = 0, lastBytes = 0;
    for (const MemorySample& m : memory) {
        if (m.bytes == 0) continue;
        if (m.second <= firstMark) firstBytes = m.bytes;
        lastBytes = m.bytes;
    }
    bool memoryOk = firstBytes != 0 && lastBytes <= firstBytes + std::max(kMemorySlackBytes, firstBytes / 10);
    if (!memoryOk) failures.push_back("memory grew from the first to the last minute");

    std::vector<uint64_t> correct = server.CorrectAnswerTimes();
    uint64_t firstCorrect = correct.empty() ? 0 : *std::min_element(correct.begin(), correct.end());
    soak::Verdict verdict = ledger.Judge(firstCorrect);
    for (const std::string& p : verdict.problems) failures.push_back(p);
    if (!verdict.passed && verdict.problems.empty()) failures.push_back("actions misfired");
    const std::vector<uint64_t>& held = verdict.heldLateTicks;
    if (!held.empty() && held.back() > kHeldLateBoundTicks) {
        failures.push_back("an action held before its time fired " + std::to_string(held.back() / 10000) +
                           " ms late");
    }

    std::vector<int> counts = server.Counts();
    std::printf("answers to %d action requests:", server.ActionRequests());
    for (size_t i = 0; i < counts.size(); ++i) {
        std::printf(" %s %d", soak::AnswerModeName(static_cast<AnswerMode>(i)), counts[i]);
    }
    std::printf("\n");
    std::printf(
        "actions: planned %zu, served %zu (in every correct list), had to fire %d, fired %d, "
        "twice %d, early %d, missed %d, latest firing %.1f s after its time\n",
        plan.size(), correct.empty() ? size_t(0) : plan.size(), verdict.mustFire, verdict.fired,
        verdict.firedTwice, verdict.firedEarly, verdict.missed, verdict.latestLateTicks / 1e7);
    auto heldMs = [&held](double p) {
        return held.empty()
                   ? 0.0
                   : held[std::min(held.size() - 1, size_t(p * double(held.size() - 1) + 0.5))] / 1e4;
    };
    std::printf(
        "lateness of the %zu actions held before their time: median %.0f ms, p99 %.0f ms, max %.0f ms "
        "(bound %.0f ms)\n",
        held.size(), heldMs(0.5), heldMs(0.99), heldMs(1.0), kHeldLateBoundTicks / 1e4);
    std::printf("restarts %d, other commands %d, slowest Stop %ld ms (bound %u ms)\n", restarts, commands,
                slowestStopMs, kStopBoundMs);
    std::printf(
        "Sync DB bursts %d; the group named last stood on the server %ld ms after its burst began (bound %u "
        "ms)\n",
        syncBursts, lastSyncMs, kLastSyncBoundMs);
    std::printf("zrkhost memory: %.1f MiB at %.0f s, %.1f MiB at the end; %d lines, %d errors reported\n",
                firstBytes / 1048576.0, firstMark, lastBytes / 1048576.0, state.lines, state.errors);
    for (const std::string& e : state.firstErrors) std::printf("  zrkhost error: %s\n", e.c_str());
    if (failures.empty()) {
        std::printf("soak passed\n");
        return 0;
    }
    for (const std::string& f : failures) std::printf("FAILED: %s\n", f.c_str());
    return 1;
}
