// What the setup dialog's window tests share: the calendar server on loopback and the reading of the
// host's JSON lines and saved settings.
#pragma once

#include <httplib.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "CalendarServer.h"
#include "platform/Clock.h"
#include "platform/Process.h"

namespace dialog_test {

inline const char kServerData[] = R"({
  "locations": [{"location_id": 1, "name": "Zeta", "comment": ""},
                {"location_id": 2, "name": "Alpha", "comment": ""},
                {"location_id": 3, "name": "Mid", "comment": ""}],
  "variables": [],
  "actions": []
})";

inline const char kThemedHost[] = R"({
  "variables": [{"name": "Volume", "type": "integer", "value": 5}],
  "groups": [{"name": "Stage", "items": ["Volume"]}, {"name": "Bar", "items": []}],
  "theme": {"0": "#202830", "1": "#e0e0e0", "5": "#ffffff", "8": "#80a0c0", "11": "#304050", "12": "#5070a0"}
})";

inline bool FileExists(const std::string& path) {
    return std::ifstream(path).good();
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

inline std::string FindOnPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        if (!dir.empty() && FileExists(dir + "/" + program)) return dir + "/" + program;
    }
    return std::string();
}

// The calendar server on 127.0.0.1 at a port of its own choosing, for one test; each request waits
// `delayMs` before it is answered.
class LoopbackCalendar {
public:
    explicit LoopbackCalendar(int delayMs = 0) {
        std::string error;
        loaded_ = calendar_.Load(kServerData, platform::LocalInstantNow(), &error);
        calendar_.Register(server_, nullptr);
        if (delayMs > 0) {
            server_.set_pre_routing_handler([delayMs](const httplib::Request&, httplib::Response&) {
                std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
                return httplib::Server::HandlerResponse::Unhandled;
            });
        }
        port_ = server_.bind_to_any_port("127.0.0.1");
        if (port_ > 0) thread_ = std::thread([this] { server_.listen_after_bind(); });
    }
    ~LoopbackCalendar() {
        server_.stop();
        if (thread_.joinable()) thread_.join();
    }
    bool Ready() const { return loaded_ && port_ > 0; }
    nlohmann::json Document() { return calendar_.Document(); }
    std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_); }
    // Whether the host's variable reached the server's table of that location.
    bool HasVariable(const std::string& name, int location) {
        for (const auto& v : Document().value("variables", nlohmann::json::array())) {
            if (v.value("name", "") == name && v.value("location_id", 0) == location) return true;
        }
        return false;
    }

private:
    calendar_server::CalendarServer calendar_;
    httplib::Server server_;
    std::thread thread_;
    bool loaded_ = false;
    int port_ = -1;
};

struct HostOutput {
    platform::ProcessResult process;
    std::vector<nlohmann::json> events;

    // Reads the host's JSON lines (a line ending of either platform).
    explicit HostOutput(platform::ProcessResult result) : process(std::move(result)) {
        std::stringstream lines(process.out);
        std::string line;
        while (std::getline(lines, line)) {
            nlohmann::json event = nlohmann::json::parse(line, nullptr, false);
            if (event.is_object()) events.push_back(event);
        }
    }

    int ResultOf(const std::string& call) const {
        for (const auto& e : events) {
            if (e.value("what", "") == "result" && e.value("call", "") == call) return e.value("code", -99);
        }
        return -99;
    }
    // The attributes of the "Setup" element of the settings that "save" printed.
    std::string Setting(const std::string& name) const {
        for (const auto& e : events) {
            if (e.value("what", "") != "settings") continue;
            const std::string text = e.value("text", "");
            const std::string key = " " + name + "=\"";
            const size_t at = text.find(key);
            if (at == std::string::npos) return "<missing>";
            const size_t start = at + key.size();
            return text.substr(start, text.find('"', start) - start);
        }
        return "<no settings>";
    }
};

}  // namespace dialog_test
