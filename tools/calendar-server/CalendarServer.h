// The reference calendar server: the REST interface that the plug-in reads, served from one JSON data
// document of locations, variables and actions.
//
// Data document:
//   {"locations": [{"location_id": 1, "name": "Main hall", "comment": ""}],
//    "variables": [{"variable_id": 1, "location_id": 1, "name": "Mode", "var_type": 4, "var_data": "Day,Night"}],
//    "actions":   [{"location_id": 1, "name": "Doors", "macro": "Open doors", "date": "+90s",
//                   "macro_action": 1, "macro_data": ""}]}
// An action's "date" is a local time "YYYY-MM-DDThh:mm:ss" or an offset from the server's start: a sign,
// a number and one of s, m, h, d ("+90s", "+5m", "-1h").
#pragma once

#include <httplib.h>

#include <cstdint>
#include <mutex>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>

namespace calendar_server {

// Reads an action date against the start instant (100 ns units since 1601, local time).
bool ParseActionDate(const std::string& text, uint64_t startInstant, uint64_t* instant);
// Reads "YYYY-MM-DD" or "YYYY-MM-DDThh:mm:ss" exactly; false for anything else or an invalid date.
bool ParseLocalTime(const std::string& text, uint64_t* instant, bool* dateOnly);
// "YYYY-MM-DDThh:mm:ss".
std::string FormatLocalTime(uint64_t instant);

class CalendarServer {
public:
    // Loads a data document; false with a message when it is not one. Relative dates count from
    // startInstant.
    bool Load(const std::string& text, uint64_t startInstant, std::string* error);
    bool LoadFile(const std::string& path, uint64_t startInstant, std::string* error);
    // With a path, every change of the variables is written back to that file (atomically).
    void SetPersistPath(const std::string& path) { persistPath_ = path; }

    // Installs the routes on an HTTP server, and a log line per request on `log` (may be null).
    void Register(httplib::Server& server, std::ostream* log);

    // The current data document, as it would be written back.
    nlohmann::json Document();

private:
    struct Action {
        int64_t locationId;
        uint64_t time;
        nlohmann::json record;  // as served, "date" already absolute
    };

    void GetLocations(const httplib::Request& req, httplib::Response& res);
    void GetVariables(const httplib::Request& req, httplib::Response& res);
    void CreateVariable(const httplib::Request& req, httplib::Response& res);
    void UpdateVariable(const httplib::Request& req, httplib::Response& res);
    void DeleteVariable(const httplib::Request& req, httplib::Response& res);
    void GetActions(const httplib::Request& req, httplib::Response& res);

    bool KnownLocation(int64_t id) const;
    nlohmann::json::iterator FindVariable(int64_t id);
    bool Persist(std::string* error);

    std::mutex mutex_;
    nlohmann::json document_;  // the loaded document; "variables" is kept current
    std::vector<Action> actions_;
    std::string persistPath_;
};

}  // namespace calendar_server
