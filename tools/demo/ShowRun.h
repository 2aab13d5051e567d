// A show run from outside: the calendar server on a free loopback port with a planned calendar, and the
// substitute host running the real plug-in against it, its event lines collected as they come. Shared by
// the end-to-end test and the lateness benchmark.
#pragma once

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "platform/ChildProcess.h"
#include "platform/Clock.h"

namespace showrun {

// "YYYY-MM-DDThh:mm:ss" of a local instant, the server's absolute date form.
inline std::string DateText(uint64_t instant) {
    platform::CalendarTime t;
    platform::InstantToCalendar(instant, &t);
    char text[64];
    std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u", unsigned(t.year), unsigned(t.month),
                  unsigned(t.day), unsigned(t.hour), unsigned(t.minute), unsigned(t.second));
    return text;
}

// The local instant of an event line's "at" ("YYYY-MM-DDThh:mm:ss.mmm"); 0 when it is not one.
inline uint64_t ParseAt(const std::string& text) {
    unsigned y, mo, d, h, mi, s, ms;
    if (std::sscanf(text.c_str(), "%4u-%2u-%2uT%2u:%2u:%2u.%3u", &y, &mo, &d, &h, &mi, &s, &ms) != 7)
        return 0;
    platform::CalendarTime t;
    t.year = uint16_t(y), t.month = uint16_t(mo), t.day = uint16_t(d);
    t.hour = uint16_t(h), t.minute = uint16_t(mi), t.second = uint16_t(s), t.milliseconds = uint16_t(ms);
    uint64_t instant = 0;
    return platform::CalendarToInstant(t, &instant) ? instant : 0;
}

// The start of the current second plus `seconds`: server dates have whole seconds.
inline uint64_t WholeSecondsFromNow(int seconds) {
    const uint64_t now = platform::LocalInstantNow();
    return now - now % platform::kTicksPerSecond + uint64_t(seconds) * platform::kTicksPerSecond;
}

inline bool WriteFile(const std::string& path, const std::string& text) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << text;
    return bool(file);
}

class ShowRun {
public:
    ~ShowRun() { Stop(); }

    // Starts the server with a data file; false when it did not print its address in time.
    bool StartServer(const std::string& serverPath, const std::string& dataPath) {
        std::vector<std::string> args = {"--data", dataPath, "--port", "0", "--bind", "127.0.0.1"};
        if (!serverLauncher.empty()) args.insert(args.begin(), serverPath);
        if (!server_.Start(serverLauncher.empty() ? serverPath : serverLauncher, args)) return false;
        std::string line;
        while (server_.ReadLine(&line, 10000)) {
            if (line.rfind("http://", 0) == 0) {
                url = line;
                return true;
            }
        }
        return false;
    }

    // Starts the host on the plug-in with the server's address; extra arguments follow.
    bool StartHost(const std::string& hostPath, const std::string& pluginPath,
                   std::vector<std::string> extra) {
        std::vector<std::string> args = {"--plugin", pluginPath,  "--server", url,           "--location",
                                         "1",        "--refresh", "10",       "--lookahead", "1"};
        args.insert(args.end(), extra.begin(), extra.end());
        if (launcher.empty()) return host_.Start(hostPath, args);
        args.insert(args.begin(), hostPath);
        return host_.Start(launcher, args);
    }

    // Collects event lines until `done` holds for the events so far or the time is up.
    bool CollectUntil(const std::function<bool(const std::vector<nlohmann::json>&)>& done,
                      uint32_t timeoutMs) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!done(events)) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return false;
            std::string line;
            if (!host_.ReadLine(&line, uint32_t(left.count()))) {
                if (host_.Ended()) return done(events);
                continue;
            }
            events.push_back(nlohmann::json::parse(line, nullptr, false));
        }
        return true;
    }

    // Sends a command line to the host.
    bool Command(const std::string& line) { return host_.Write(line + "\n"); }

    // Ends the host with "quit" (its remaining lines are collected), then the server. Returns the host's
    // exit code.
    int Stop() {
        int code = -1;
        if (host_.Running()) {
            host_.Write("quit\n");
            host_.CloseInput();
            CollectUntil([](const std::vector<nlohmann::json>&) { return false; }, 10000);
            code = host_.Wait(5000);
        }
        if (server_.Running()) {
            server_.Terminate();
            server_.Wait(5000);
        }
        return code;
    }

    platform::ChildProcess& host() { return host_; }

    std::string url;
    std::vector<nlohmann::json> events;
    // A program that runs the host (its path, then the host's arguments follow), such as the one that
    // runs the Windows host under Wine; empty to run the host directly.
    std::string launcher;
    // The same for the server (the Windows server under Wine).
    std::string serverLauncher;

private:
    platform::ChildProcess server_;
    platform::ChildProcess host_;
};

// The events with that "what" (and, when given, that "name").
inline std::vector<nlohmann::json> Of(const std::vector<nlohmann::json>& events, const std::string& what,
                                      const std::string& name = "") {
    std::vector<nlohmann::json> out;
    for (const auto& e : events) {
        if (!e.is_object() || e.value("what", "") != what) continue;
        if (!name.empty() && e.value("name", "") != name) continue;
        out.push_back(e);
    }
    return out;
}

}  // namespace showrun
