// What an operator plans on the page, kept in the database: planned items (a task started or a variable
// set, at a clock time or a sun event, on one date or repeated by a rule), the occurrences of an item that
// are skipped, the closed days of a location, and the page's password hash.
//
// A planned item is served through the same expansion as a calendar application's events: each item is
// written as one iCalendar event (PlanCalendarText) and read by IcsCalendar, so its repeats and sun times
// are worked out by the one engine that answers the plug-in.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "Database.h"

namespace calendar_server {

struct Plan {
    int64_t id = 0;
    int64_t location = 0;
    std::string name;
    std::string date;  // "YYYY-MM-DD", the first date asked for
    std::string time;  // "hh:mm:ss", or empty for a sun event
    std::string sun;   // "sunset", "sunrise", "dawn", "dusk", "noon", or empty for a clock time
    std::string sunOffset;
    // The repeat as its iCalendar rule ("FREQ=WEEKLY;INTERVAL=2;BYDAY=MO,FR;UNTIL=20270331"), empty for
    // one date.
    std::string rule;
    int64_t macroAction = 1;
    std::string macro;
    std::string macroData;
    std::vector<std::string> skips;  // "YYYY-MM-DD", sorted

    // " @sunset+30m", or empty.
    std::string SunMarker() const { return sun.empty() ? std::string() : "@" + sun + sunOffset; }
};

struct ClosedDays {
    int64_t id = 0;
    int64_t location = 0;
    std::string start;  // "YYYY-MM-DD", both inclusive
    std::string end;
    std::string label;
};

// A location's variable as "Sync DB" mirrored it, for checking what a planned item sets.
struct VariableInfo {
    std::string name;
    int64_t type = 0;  // 1 integer, 4 enumeration (data: the items, comma separated)
    std::string data;
};

// What a write is checked against.
struct PlanContext {
    uint64_t today = 0;  // local instant of today's midnight
    bool hasPlace = false;
    std::vector<VariableInfo> variables;
};

// A refused member of a request, and why.
struct FieldError {
    std::string field;
    std::string message;
};

// Reads a planned item sent by the page; false with the refused member. `id`, `skips` and `location_id`
// may be sent back as read and are ignored.
bool ReadPlan(const nlohmann::json& body, const PlanContext& context, Plan* plan, FieldError* error);
// Reads closed days sent by the page.
bool ReadClosed(const nlohmann::json& body, const PlanContext& context, ClosedDays* closed,
                FieldError* error);
// A date "YYYY-MM-DD" within the days the server serves around today; false with the reason.
bool ReadServedDate(const nlohmann::json& value, uint64_t today, std::string* date, std::string* why);

nlohmann::json PlanJson(const Plan& plan);
nlohmann::json ClosedJson(const ClosedDays& closed);

// The first date the item fires on ("YYYY-MM-DD"), empty when its repeat gives none.
std::string FirstDate(const Plan& plan);
// The items as one iCalendar calendar: event "P<id>" (with its sun marker) per item.
std::string PlanCalendarText(const std::vector<Plan>& plans);
// The item of an event's summary in that calendar; 0 for none.
int64_t PlanOfSummary(const std::string& summary);

// The schema-3 tables of planning (within the caller's transaction).
bool CreatePlanTables(Database& db, std::string* error);

// Reads and writes with the caller holding the database.
class PlanStore {
public:
    explicit PlanStore(Database& db) : db_(db) {}

    bool Plans(int64_t location, std::vector<Plan>* plans);
    bool Find(int64_t location, int64_t id, Plan* plan);
    // Stores a new item (its id filled in) or replaces one; a replaced item keeps its skips.
    bool Insert(Plan* plan);
    // False when there is no such item (*found false) or on an error.
    bool Replace(const Plan& plan, bool* found);
    bool Erase(int64_t location, int64_t id, bool* found);
    bool Skip(int64_t id, const std::string& date, bool skip);

    bool Closed(int64_t location, std::vector<ClosedDays>* closed);
    bool AddClosed(ClosedDays* closed);
    bool EraseClosed(int64_t location, int64_t id, bool* found);

    std::string Setting(const std::string& key);
    bool SetSetting(const std::string& key, const std::string& value);

private:
    bool StorePlan(const Plan& plan, bool insert);
    Database& db_;
};

}  // namespace calendar_server
