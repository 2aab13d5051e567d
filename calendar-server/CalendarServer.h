// The calendar server: the REST interface that the plug-in reads, served from a database of locations,
// variables and actions (a file, or in memory), seeded from a JSON data document; the actions of a location
// may instead come from an iCalendar source (IcsSource).
//
// Data document (a location's "latitude" and "longitude" are optional, for its events that follow the sun):
//   {"locations": [{"location_id": 1, "name": "Main hall", "comment": "", "latitude": 52.5,
//                   "longitude": 13.4}],
//    "variables": [{"variable_id": 1, "location_id": 1, "name": "Mode", "var_type": 4, "var_data":
//    "Day,Night"}], "actions":   [{"location_id": 1, "name": "Doors", "macro": "Open doors", "date": "+90s",
//                   "macro_action": 1, "macro_data": ""}]}
// An action's "date" is a local time "YYYY-MM-DDThh:mm:ss" or an offset from the server's start: a sign,
// a number and one of s, m, h, d ("+90s", "+5m", "-1h").
#pragma once

#include <httplib.h>

#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "Database.h"
#include "HttpServer.h"
#include "IcsSource.h"
#include "PlanStore.h"

namespace calendar_server {

// Whether text[from, from + count) is all decimal digits (false when it runs past the end).
bool AllDigits(const std::string& text, size_t from, size_t count);

// Reads an action date against the start instant (100 ns units since 1601, local time).
bool ParseActionDate(const std::string& text, uint64_t startInstant, uint64_t* instant);
// Reads "YYYY-MM-DD" or "YYYY-MM-DDThh:mm:ss" exactly; false for anything else or an invalid date.
bool ParseLocalTime(const std::string& text, uint64_t* instant, bool* dateOnly);
// "YYYY-MM-DDThh:mm:ss".
std::string FormatLocalTime(uint64_t instant);
// The server's local instant of a UTC time (seconds since 1970); false before 1601 or out of range.
bool UtcToLocalInstant(time_t utc, uint64_t* instant);

// Who may talk to the server. A browser on the operator's machine is a client too: a page of any site may
// send it requests, so requests that a browser marks as another site's are refused.
// A request must name this machine as its Host (a page whose name is made to resolve to this machine names
// its own site instead): localhost, a loopback address, this machine's name or one of its addresses.
struct Access {
    bool loopbackOnly = true;        // whether the server listens on loopback only
    std::vector<std::string> hosts;  // further Host names accepted (--allow-host), in lower case
    std::vector<Network> clients;    // when not empty, the only client networks served (--allow-from)
};

// The largest window a request for actions may ask (the plug-in asks a day or its look-ahead), and the
// largest answer.
constexpr uint64_t kMaxWindowDays = 400;
constexpr size_t kMaxAnswerBytes = 16u << 20;
// The largest request body (a variable is a few hundred bytes).
constexpr size_t kMaxBodyBytes = 1u << 20;

// One action of a location's window as the plug-in is answered, and as the page shows it: an occurrence on
// a closed day or a skipped one is marked, and the plug-in is not given it.
struct Occurrence {
    uint64_t time = 0;
    nlohmann::json action;  // name, macro, macro_action, macro_data
    std::string source;     // "database", or the calendar's file or URL
    int64_t plan = 0;       // the planned item it comes from, 0 for none
    std::string sun;        // the sun marker it follows ("@sunset+30m"), empty for a clock time
    std::string closed;     // the closed days' label
    bool skipped = false;
    bool Fires() const { return closed.empty() && !skipped; }
};

class PageApi;

class CalendarServer {
public:
    // Starts on an empty database in memory.
    CalendarServer();
    ~CalendarServer();

    // Keeps everything in a database file instead (created when missing); false with a message when it
    // cannot be opened, is not this server's, is damaged or was written by a newer schema. Such a file is
    // left as it was.
    bool OpenDatabase(const std::string& path, std::string* error);
    // Reads a data document; false with a message when it is not one. Relative dates count from
    // startInstant. The document seeds the database when that holds nothing yet; a database that already
    // holds a calendar keeps it (seeded() tells which happened).
    bool Load(const std::string& text, uint64_t startInstant, std::string* error);
    bool LoadFile(const std::string& path, uint64_t startInstant, std::string* error);
    bool seeded() const { return seeded_; }
    // With a path, every change of the variables is written back to that file (atomically).
    void SetPersistPath(const std::string& path) { persistPath_ = path; }

    // Location `location` takes its actions from an iCalendar file or URL; a location the database lacks
    // is created. Sources are added before StartSources. Coordinates in the options are stored with the
    // location; without, the location's stored coordinates are used.
    bool AddIcsSource(int64_t location, const std::string& source, IcsSource::Options options,
                      std::string* error);
    // Starts reading every source, waiting at most `waitMs` for their first reads.
    void StartSources(int waitMs);
    // Where lines for the operator go (bad calendars, reads); standard error unless set. Called from the
    // readers' threads.
    void SetNotes(std::function<void(const std::string&)> notes) { notes_ = std::move(notes); }

    // Who may send requests; set before Register.
    void SetAccess(Access access);

    // Installs the routes on an HTTP server, and a log line per request on `log` (may be null).
    void Register(httplib::Server& server, std::ostream* log);

    // The current data document, as it would be written back.
    nlohmann::json Document();

    // Location `location`'s actions in [from, to] by time, those that will not fire included (marked):
    // the one expansion behind the plug-in's answers and the page's. 0, or the status refusing it with why.
    int Expand(int64_t location, uint64_t from, uint64_t to, std::vector<Occurrence>* found,
               std::string* why);

private:
    friend class PageApi;

    void GetLocations(const httplib::Request& req, httplib::Response& res);
    void GetVariables(const httplib::Request& req, httplib::Response& res);
    void CreateVariable(const httplib::Request& req, httplib::Response& res);
    void UpdateVariable(const httplib::Request& req, httplib::Response& res);
    void DeleteVariable(const httplib::Request& req, httplib::Response& res);
    void GetActions(const httplib::Request& req, httplib::Response& res);

    bool CreateSchema(std::string* error);
    bool CreateDatabase(const std::string& path, std::string* error);
    // 0 when the request may go on, else the status that refuses it (and why).
    int Refusal(const httplib::Request& req, std::string* why) const;
    bool MigrateToPlaces(std::string* error);
    bool StorePlace(int64_t location, const Coordinates& place);
    bool KnownLocation(int64_t id);
    nlohmann::json Variables(int64_t location, bool all);
    bool Persist(std::string* error);
    void Note(const std::string& line);
    void CalendarRead(int64_t location, const std::string& source, const std::string& text,
                      const IcsCalendar& calendar);
    bool MigrateToPlans(std::string* error);
    // A location's planned items as one calendar for the calendar reader, with the items by id: kept between
    // requests, built anew after a write to the location's plan (or its place) and each day.
    struct PlanIndex;
    // Builds the plan of `location` from its rows read under the mutex, without holding it; null with why.
    std::shared_ptr<const PlanIndex> BuildPlanIndex(int64_t location, uint64_t today, std::vector<Plan> plans,
                                                    const Coordinates* place, std::string* why);
    // A planned item, a skip or a closed day of the location changed: the plan kept for it is dropped, and
    // one being built from the rows before the change is not kept (mutex_ held).
    void PlansChanged(int64_t location) {
        ++planWrites_[location];
        planIndexes_.erase(location);
    }
    // Whether a closed day of the location falls in [from, to] (mutex_ held).
    bool ClosedWithin(int64_t location, uint64_t from, uint64_t to);
    // The client that read a location's actions, for the status (set by the page's part).
    std::function<void(int64_t location, const std::string& address)> readBy_;

    std::mutex mutex_;  // the database connection and the document
    Database db_;
    nlohmann::json document_;  // the loaded document, written back with the current variables
    std::string persistPath_;
    bool seeded_ = false;
    std::function<void(const std::string&)> notes_;
    Access access_;
    std::vector<std::string> ownNames_;  // this machine's name and addresses, read with the access
    std::map<int64_t, std::unique_ptr<IcsSource>> sources_;  // fixed once serving
    std::map<int64_t, std::shared_ptr<const PlanIndex>> planIndexes_;
    std::map<int64_t, uint64_t> planWrites_;  // writes to each location's plan, counted
};

}  // namespace calendar_server
