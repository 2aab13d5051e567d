#include "PlanStore.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "CalendarServer.h"
#include "SunTimes.h"
#include "platform/Clock.h"

using nlohmann::json;

namespace calendar_server {
namespace {

const char* const kDays[] = {"MO", "TU", "WE", "TH", "FR", "SA", "SU"};
constexpr size_t kMaxName = 200;
constexpr size_t kMaxLabel = 100;
constexpr int64_t kMaxCount = 10000;
constexpr int64_t kMaxInterval = 52;

// Days since 1601-01-01, a Monday: day % 7 is the weekday with 0 = Monday.
bool DayNumber(const std::string& date, int64_t* day) {
    uint64_t instant = 0;
    bool dateOnly = false;
    if (!ParseLocalTime(date, &instant, &dateOnly) || !dateOnly) return false;
    *day = static_cast<int64_t>(instant / platform::kTicksPerDay);
    return true;
}

std::string DateOfDay(int64_t day) {
    return FormatLocalTime(static_cast<uint64_t>(day) * platform::kTicksPerDay).substr(0, 10);
}

// Characters, not bytes (the text is UTF-8, as JSON holds it); false when it holds a control character.
bool TextLength(const std::string& text, size_t* length) {
    *length = 0;
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7f) return false;
        if ((c & 0xC0) != 0x80) ++*length;
    }
    return true;
}

bool ReadText(const json& body, const char* key, size_t most, std::string* out, FieldError* error) {
    size_t length = 0;
    if (!body.contains(key) || !body[key].is_string())
        return *error = {key, std::string(key) + " must be text"}, false;
    *out = body[key].get<std::string>();
    if (!TextLength(*out, &length)) return *error = {key, "control characters are not allowed"}, false;
    if (length == 0 || length > most) {
        return *error = {key, "1 to " + std::to_string(most) + " characters"}, false;
    }
    return true;
}

// "hh:mm" or "hh:mm:ss" as "hh:mm:ss".
bool ReadClock(const std::string& text, std::string* time) {
    auto two = [&](size_t at, int most) {
        return at + 2 <= text.size() && text[at] >= '0' && text[at] <= '9' && text[at + 1] >= '0' &&
               text[at + 1] <= '9' && (text[at] - '0') * 10 + (text[at + 1] - '0') <= most;
    };
    if (text.size() != 5 && text.size() != 8) return false;
    if (!two(0, 23) || text[2] != ':' || !two(3, 59)) return false;
    if (text.size() == 8 && (text[5] != ':' || !two(6, 59))) return false;
    *time = text.size() == 5 ? text + ":00" : text;
    return true;
}

bool ReadInteger(const json& value, int64_t least, int64_t most, int64_t* out) {
    if (!value.is_number_integer()) return false;
    *out = value.get<int64_t>();
    return *out >= least && *out <= most;
}

// An integer as text, as a host variable takes it.
bool IntegerText(const std::string& text) {
    size_t i = !text.empty() && (text[0] == '-' || text[0] == '+') ? 1 : 0;
    if (i >= text.size() || text.size() - i > 10) return false;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
    }
    const long long v = std::strtoll(text.c_str(), nullptr, 10);
    return v >= INT32_MIN && v <= INT32_MAX;
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t from = 0;
    for (;;) {
        const size_t at = text.find(separator, from);
        parts.push_back(text.substr(from, at == std::string::npos ? std::string::npos : at - from));
        if (at == std::string::npos) return parts;
        from = at + 1;
    }
}

struct Rule {
    std::string freq;  // DAILY or WEEKLY
    int64_t interval = 1;
    std::vector<int> days;  // weekdays, 0 = Monday
    std::string until;      // "YYYY-MM-DD", empty for none
    int64_t count = 0;
};

bool ParseRule(const std::string& text, Rule* rule) {
    for (const std::string& part : Split(text, ';')) {
        const size_t equals = part.find('=');
        if (equals == std::string::npos) return false;
        const std::string key = part.substr(0, equals), value = part.substr(equals + 1);
        if (key == "FREQ") {
            rule->freq = value;
        } else if (key == "INTERVAL") {
            rule->interval = std::atoll(value.c_str());
        } else if (key == "COUNT") {
            rule->count = std::atoll(value.c_str());
        } else if (key == "UNTIL" && value.size() >= 8) {
            rule->until = value.substr(0, 4) + "-" + value.substr(4, 2) + "-" + value.substr(6, 2);
        } else if (key == "BYDAY") {
            for (const std::string& d : Split(value, ',')) {
                const auto* found = std::find(std::begin(kDays), std::end(kDays), d);
                if (found == std::end(kDays)) return false;
                rule->days.push_back(static_cast<int>(found - std::begin(kDays)));
            }
        } else if (key != "WKST") {
            return false;
        }
    }
    return (rule->freq == "DAILY" || rule->freq == "WEEKLY") && rule->interval >= 1;
}

std::string RuleText(const Rule& rule) {
    std::string text = "FREQ=" + rule.freq;
    if (rule.freq == "WEEKLY") text += ";WKST=MO";
    if (rule.interval != 1) text += ";INTERVAL=" + std::to_string(rule.interval);
    if (!rule.days.empty()) {
        text += ";BYDAY=";
        for (size_t i = 0; i < rule.days.size(); ++i)
            text += (i ? "," : "") + std::string(kDays[rule.days[i]]);
    }
    if (!rule.until.empty()) {
        // The whole last day belongs to the repeat (the events' times are floating local times).
        text += ";UNTIL=" + rule.until.substr(0, 4) + rule.until.substr(5, 2) + rule.until.substr(8, 2) +
                "T235959";
    }
    if (rule.count > 0) text += ";COUNT=" + std::to_string(rule.count);
    return text;
}

bool ReadRepeat(const json& repeat, const std::string& date, uint64_t today, Rule* rule, FieldError* error) {
    if (!repeat.is_object()) return *error = {"repeat", "a repeat is an object or null"}, false;
    for (auto it = repeat.begin(); it != repeat.end(); ++it) {
        static const char* const known[] = {"every", "interval", "days", "until", "count"};
        if (std::find(std::begin(known), std::end(known), it.key()) == std::end(known))
            return *error = {"repeat." + it.key(), "unknown member"}, false;
    }
    const std::string every =
        repeat.value("every", json()).is_string() ? repeat["every"].get<std::string>() : "";
    if (every != "daily" && every != "weekdays" && every != "weekly")
        return *error = {"repeat.every", "daily, weekdays or weekly"}, false;
    rule->freq = every == "daily" ? "DAILY" : "WEEKLY";
    if (repeat.contains("interval") && !repeat["interval"].is_null() &&
        !ReadInteger(repeat["interval"], 1, kMaxInterval, &rule->interval)) {
        return *error = {"repeat.interval", "a whole number from 1 to 52"}, false;
    }
    const bool hasDays = repeat.contains("days") && !repeat["days"].is_null() &&
                         !(repeat["days"].is_array() && repeat["days"].empty());
    if (every == "weekly") {
        if (!hasDays || !repeat["days"].is_array())
            return *error = {"repeat.days", "choose one or more weekdays"}, false;
        for (const json& d : repeat["days"]) {
            const auto* found = d.is_string()
                                    ? std::find(std::begin(kDays), std::end(kDays), d.get<std::string>())
                                    : std::end(kDays);
            if (found == std::end(kDays))
                return *error = {"repeat.days", "weekdays are MO TU WE TH FR SA SU"}, false;
            const int day = static_cast<int>(found - std::begin(kDays));
            if (std::find(rule->days.begin(), rule->days.end(), day) == rule->days.end())
                rule->days.push_back(day);
        }
        std::sort(rule->days.begin(), rule->days.end());
    } else if (every == "weekdays") {
        if (hasDays)
            return *error = {"repeat.days", "weekdays are Monday to Friday; use weekly to choose"}, false;
        rule->days = {0, 1, 2, 3, 4};
    } else if (hasDays) {
        return *error = {"repeat.days", "days are chosen for a weekly repeat"}, false;
    }
    const bool hasUntil = repeat.contains("until") && !repeat["until"].is_null();
    const bool hasCount = repeat.contains("count") && !repeat["count"].is_null();
    if (hasUntil && hasCount)
        return *error = {"repeat.count", "give an end date or a number of times, not both"}, false;
    if (hasUntil) {
        std::string why;
        if (!ReadServedDate(repeat["until"], today, &rule->until, &why))
            return *error = {"repeat.until", why}, false;
        if (rule->until < date)
            return *error = {"repeat.until", "the end date is before the first date"}, false;
    }
    if (hasCount && !ReadInteger(repeat["count"], 1, kMaxCount, &rule->count))
        return *error = {"repeat.count", "a whole number from 1 to 10000"}, false;
    return true;
}

}  // namespace

bool ReadServedDate(const json& value, uint64_t today, std::string* date, std::string* why) {
    int64_t day = 0;
    if (!value.is_string() || !DayNumber(value.get<std::string>(), &day))
        return *why = "a date YYYY-MM-DD", false;
    const int64_t now = static_cast<int64_t>(today / platform::kTicksPerDay);
    if (day < now - static_cast<int64_t>(kMaxWindowDays) ||
        day > now + static_cast<int64_t>(kMaxWindowDays)) {
        return *why = "the server serves dates within " + std::to_string(kMaxWindowDays) + " days of today",
               false;
    }
    *date = value.get<std::string>();
    return true;
}

bool ReadPlan(const json& body, const PlanContext& context, Plan* plan, FieldError* error) {
    if (!body.is_object()) return *error = {"", "the body is not a JSON object"}, false;
    for (auto it = body.begin(); it != body.end(); ++it) {
        static const char* const known[] = {"id",     "location_id",  "name",  "date",       "time", "sun",
                                            "repeat", "macro_action", "macro", "macro_data", "skips"};
        if (std::find(std::begin(known), std::end(known), it.key()) == std::end(known))
            return *error = {it.key(), "unknown member"}, false;
    }
    if (!ReadText(body, "name", kMaxName, &plan->name, error)) return false;
    std::string why;
    if (!ReadServedDate(body.value("date", json()), context.today, &plan->date, &why))
        return *error = {"date", why}, false;
    const bool hasTime = body.contains("time") && !body["time"].is_null();
    const bool hasSun = body.contains("sun") && !body["sun"].is_null();
    if (hasTime == hasSun) return *error = {"time", "give a clock time or a sun event"}, false;
    plan->time.clear();
    plan->sun.clear();
    plan->sunOffset.clear();
    if (hasTime) {
        if (!body["time"].is_string() || !ReadClock(body["time"].get<std::string>(), &plan->time))
            return *error = {"time", "a time hh:mm or hh:mm:ss"}, false;
    } else {
        const json& sun = body["sun"];
        if (!sun.is_object() || !sun.contains("event") || !sun["event"].is_string())
            return *error = {"sun.event", "sunrise, sunset, dawn, dusk or noon"}, false;
        const std::string event = sun["event"].get<std::string>();
        static const char* const events[] = {"sunrise", "sunset", "dawn", "dusk", "noon"};
        if (std::find(std::begin(events), std::end(events), event) == std::end(events))
            return *error = {"sun.event", "sunrise, sunset, dawn, dusk or noon"}, false;
        const json offset = sun.value("offset", json(""));
        if (!offset.is_string() && !offset.is_null())
            return *error = {"sun.offset", "an offset such as +30m"}, false;
        plan->sun = event;
        plan->sunOffset = offset.is_string() ? offset.get<std::string>() : "";
        std::string summary = "x " + plan->SunMarker();
        SunMarker marker;
        if (plan->sunOffset.size() > 16 || ReadSunMarker(&summary, &marker) != MarkerRead::kMarker)
            return *error = {"sun.offset", "an offset such as +30m, -1h30m or +90s, a day at most"}, false;
        if (!context.hasPlace) return *error = {"sun", "a sun event needs the location's coordinates"}, false;
    }
    Rule rule;
    plan->rule.clear();
    if (body.contains("repeat") && !body["repeat"].is_null()) {
        if (!ReadRepeat(body["repeat"], plan->date, context.today, &rule, error)) return false;
        plan->rule = RuleText(rule);
    }
    if (!ReadInteger(body.value("macro_action", json()), 1, 2, &plan->macroAction))
        return *error = {"macro_action", "1 starts a task, 2 sets a variable"}, false;
    if (!ReadText(body, "macro", kMaxName, &plan->macro, error)) return false;
    const json data = body.value("macro_data", json(""));
    if (!data.is_string()) return *error = {"macro_data", "macro_data must be text"}, false;
    plan->macroData = data.get<std::string>();
    if (plan->macroAction == 1 && !plan->macroData.empty())
        return *error = {"macro_data", "a task takes no value"}, false;
    if (plan->macroAction == 2) {
        auto variable = std::find_if(context.variables.begin(), context.variables.end(),
                                     [&](const VariableInfo& v) { return v.name == plan->macro; });
        if (variable == context.variables.end())
            return *error = {"macro", "the location has no variable " + plan->macro}, false;
        if (variable->type == 4) {
            const std::vector<std::string> items = Split(variable->data, ',');
            if (std::find(items.begin(), items.end(), plan->macroData) == items.end())
                return *error = {"macro_data", "one of " + variable->data}, false;
        } else if (variable->type == 1 && !IntegerText(plan->macroData)) {
            return *error = {"macro_data", plan->macro + " takes a whole number"}, false;
        }
        size_t length = 0;
        if (!TextLength(plan->macroData, &length) || length > kMaxName)
            return *error = {"macro_data", "at most 200 characters, no control characters"}, false;
    }
    if (FirstDate(*plan).empty()) return *error = {"repeat", "the repeat gives no occurrence"}, false;
    return true;
}

bool ReadClosed(const json& body, const PlanContext& context, ClosedDays* closed, FieldError* error) {
    if (!body.is_object()) return *error = {"", "the body is not a JSON object"}, false;
    for (auto it = body.begin(); it != body.end(); ++it) {
        if (it.key() != "start" && it.key() != "end" && it.key() != "label" && it.key() != "id")
            return *error = {it.key(), "unknown member"}, false;
    }
    std::string why;
    if (!ReadServedDate(body.value("start", json()), context.today, &closed->start, &why))
        return *error = {"start", why}, false;
    closed->end = closed->start;
    if (body.contains("end") && !body["end"].is_null()) {
        if (!ReadServedDate(body["end"], context.today, &closed->end, &why))
            return *error = {"end", why}, false;
        if (closed->end < closed->start) return *error = {"end", "the last day is before the first"}, false;
    }
    return ReadText(body, "label", kMaxLabel, &closed->label, error);
}

json PlanJson(const Plan& plan) {
    json repeat;
    Rule rule;
    if (!plan.rule.empty() && ParseRule(plan.rule, &rule)) {
        const bool weekdays =
            rule.freq == "WEEKLY" && rule.interval == 1 && rule.days == std::vector<int>{0, 1, 2, 3, 4};
        repeat = json{{"every", rule.freq == "DAILY" ? "daily"
                                : weekdays           ? "weekdays"
                                                     : "weekly"},
                      {"interval", rule.interval},
                      {"days", json::array()},
                      {"until", rule.until.empty() ? json() : json(rule.until)},
                      {"count", rule.count > 0 ? json(rule.count) : json()}};
        if (!weekdays) {
            for (int d : rule.days) repeat["days"].push_back(kDays[d]);
        }
    }
    return json{{"id", plan.id},
                {"name", plan.name},
                {"date", plan.date},
                {"time", plan.time.empty() ? json() : json(plan.time)},
                {"sun", plan.sun.empty() ? json() : json{{"event", plan.sun}, {"offset", plan.sunOffset}}},
                {"repeat", repeat},
                {"macro_action", plan.macroAction},
                {"macro", plan.macro},
                {"macro_data", plan.macroData},
                {"skips", plan.skips}};
}

json ClosedJson(const ClosedDays& closed) {
    return json{{"id", closed.id}, {"start", closed.start}, {"end", closed.end}, {"label", closed.label}};
}

std::string FirstDate(const Plan& plan) {
    int64_t first = 0;
    if (!DayNumber(plan.date, &first)) return std::string();
    Rule rule;
    if (plan.rule.empty()) return plan.date;
    if (!ParseRule(plan.rule, &rule)) return std::string();
    int64_t day = first;
    if (rule.freq == "WEEKLY") {
        // The first chosen weekday in a week of the series: weeks count from the first date's week, so
        // the series is the same whether it starts on the first date or on this day.
        const int64_t week = first / 7;
        for (; day < first + 7 * rule.interval; ++day) {
            const bool chosen = std::find(rule.days.begin(), rule.days.end(), day % 7) != rule.days.end();
            if (chosen && (day / 7 - week) % rule.interval == 0) break;
        }
        if (day == first + 7 * rule.interval) return std::string();
    }
    const std::string date = DateOfDay(day);
    return !rule.until.empty() && date > rule.until ? std::string() : date;
}

std::string PlanCalendarText(const std::vector<Plan>& plans) {
    std::string text = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Venue//Plan//EN\r\n";
    for (const Plan& plan : plans) {
        const std::string first = FirstDate(plan);
        if (first.empty()) continue;
        // A sun event keeps its date; noon stands for its time of day.
        const std::string time = plan.time.empty() ? "12:00:00" : plan.time;
        text +=
            "BEGIN:VEVENT\r\nUID:plan-" + std::to_string(plan.id) + "\r\nSUMMARY:P" + std::to_string(plan.id);
        if (!plan.sun.empty()) text += " " + plan.SunMarker();
        text += "\r\nDTSTART:" + first.substr(0, 4) + first.substr(5, 2) + first.substr(8, 2) + "T" +
                time.substr(0, 2) + time.substr(3, 2) + time.substr(6, 2) + "\r\n";
        if (!plan.rule.empty()) text += "RRULE:" + plan.rule + "\r\n";
        text += "END:VEVENT\r\n";
    }
    return text + "END:VCALENDAR\r\n";
}

int64_t PlanOfSummary(const std::string& summary) {
    if (summary.size() < 2 || summary.size() > 19 || summary[0] != 'P') return 0;
    int64_t id = 0;
    for (size_t i = 1; i < summary.size(); ++i) {
        if (summary[i] < '0' || summary[i] > '9') return 0;
        id = id * 10 + (summary[i] - '0');
    }
    return id;
}

bool CreatePlanTables(Database& db, std::string* error) {
    return db.Exec(R"(
        CREATE TABLE plans(plan_id INTEGER PRIMARY KEY, location_id INTEGER NOT NULL, name TEXT NOT NULL,
                           first_date TEXT NOT NULL, time TEXT NOT NULL, sun TEXT NOT NULL,
                           sun_offset TEXT NOT NULL, rule TEXT NOT NULL, macro_action INTEGER NOT NULL,
                           macro TEXT NOT NULL, macro_data TEXT NOT NULL);
        CREATE INDEX plans_by_location ON plans(location_id);
        CREATE TABLE plan_skips(plan_id INTEGER NOT NULL, date TEXT NOT NULL, PRIMARY KEY(plan_id, date));
        CREATE TABLE closed_days(closed_id INTEGER PRIMARY KEY, location_id INTEGER NOT NULL,
                                 start TEXT NOT NULL, end TEXT NOT NULL, label TEXT NOT NULL);
        CREATE TABLE settings(key TEXT PRIMARY KEY, value TEXT NOT NULL);)",
                   error);
}

namespace {
const char kPlanColumns[] =
    "SELECT plan_id, location_id, name, first_date, time, sun, sun_offset, rule, macro_action, macro, "
    "macro_data FROM plans ";

Plan PlanOfRow(const Statement& row) {
    Plan p;
    p.id = row.Int(0);
    p.location = row.Int(1);
    p.name = row.Text(2);
    p.date = row.Text(3);
    p.time = row.Text(4);
    p.sun = row.Text(5);
    p.sunOffset = row.Text(6);
    p.rule = row.Text(7);
    p.macroAction = row.Int(8);
    p.macro = row.Text(9);
    p.macroData = row.Text(10);
    return p;
}
}  // namespace

bool PlanStore::Plans(int64_t location, std::vector<Plan>* plans) {
    plans->clear();
    Statement select(db_.handle(),
                     (std::string(kPlanColumns) + "WHERE location_id = ? ORDER BY plan_id").c_str());
    select.Bind(location);
    while (select.Step()) plans->push_back(PlanOfRow(select));
    if (!select.Done()) return false;
    Statement skips(db_.handle(),
                    "SELECT s.plan_id, s.date FROM plan_skips s JOIN plans p ON p.plan_id = s.plan_id "
                    "WHERE p.location_id = ? ORDER BY s.plan_id, s.date");
    skips.Bind(location);
    while (skips.Step()) {
        auto plan =
            std::find_if(plans->begin(), plans->end(), [&](const Plan& p) { return p.id == skips.Int(0); });
        if (plan != plans->end()) plan->skips.push_back(skips.Text(1));
    }
    return skips.Done();
}

bool PlanStore::Find(int64_t location, int64_t id, Plan* plan) {
    Statement select(db_.handle(),
                     (std::string(kPlanColumns) + "WHERE location_id = ? AND plan_id = ?").c_str());
    select.Bind(location).Bind(id);
    if (!select.Step()) return false;
    *plan = PlanOfRow(select);
    Statement skips(db_.handle(), "SELECT date FROM plan_skips WHERE plan_id = ? ORDER BY date");
    skips.Bind(id);
    while (skips.Step()) plan->skips.push_back(skips.Text(0));
    return skips.Done();
}

bool PlanStore::StorePlan(const Plan& plan, bool insert) {
    // An item is replaced only at its own location.
    Statement write(
        db_.handle(),
        insert ? "INSERT INTO plans(name, first_date, time, sun, sun_offset, rule, macro_action, macro, "
                 "macro_data, location_id) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"
               : "UPDATE plans SET name = ?, first_date = ?, time = ?, sun = ?, sun_offset = ?, "
                 "rule = ?, macro_action = ?, macro = ?, macro_data = ? "
                 "WHERE location_id = ? AND plan_id = ?");
    write.Bind(plan.name)
        .Bind(plan.date)
        .Bind(plan.time)
        .Bind(plan.sun)
        .Bind(plan.sunOffset)
        .Bind(plan.rule)
        .Bind(plan.macroAction)
        .Bind(plan.macro)
        .Bind(plan.macroData)
        .Bind(plan.location);
    if (!insert) write.Bind(plan.id);
    return write.Step(), write.Done();
}

bool PlanStore::Insert(Plan* plan) {
    if (!StorePlan(*plan, true)) return false;
    plan->id = sqlite3_last_insert_rowid(db_.handle());
    return true;
}

bool PlanStore::Replace(const Plan& plan, bool* found) {
    if (!StorePlan(plan, false)) return *found = true, false;
    return *found = sqlite3_changes(db_.handle()) > 0;
}

bool PlanStore::Erase(int64_t location, int64_t id, bool* found) {
    Statement erase(db_.handle(), "DELETE FROM plans WHERE location_id = ? AND plan_id = ?");
    erase.Bind(location).Bind(id);
    if (erase.Step(), !erase.Done()) return *found = true, false;
    *found = sqlite3_changes(db_.handle()) > 0;
    Statement skips(db_.handle(), "DELETE FROM plan_skips WHERE plan_id = ?");
    skips.Bind(id);
    return (skips.Step(), skips.Done()) && *found;
}

bool PlanStore::Skip(int64_t id, const std::string& date, bool skip) {
    Statement write(db_.handle(), skip ? "INSERT OR IGNORE INTO plan_skips(plan_id, date) VALUES(?, ?)"
                                       : "DELETE FROM plan_skips WHERE plan_id = ? AND date = ?");
    write.Bind(id).Bind(date);
    return write.Step(), write.Done();
}

bool PlanStore::Closed(int64_t location, std::vector<ClosedDays>* closed) {
    closed->clear();
    Statement select(
        db_.handle(),
        "SELECT closed_id, location_id, start, end, label FROM closed_days WHERE location_id = ? "
        "ORDER BY start, closed_id");
    select.Bind(location);
    while (select.Step()) {
        closed->push_back(
            ClosedDays{select.Int(0), select.Int(1), select.Text(2), select.Text(3), select.Text(4)});
    }
    return select.Done();
}

bool PlanStore::AddClosed(ClosedDays* closed) {
    Statement insert(db_.handle(),
                     "INSERT INTO closed_days(location_id, start, end, label) VALUES(?, ?, ?, ?)");
    insert.Bind(closed->location).Bind(closed->start).Bind(closed->end).Bind(closed->label);
    if (insert.Step(), !insert.Done()) return false;
    closed->id = sqlite3_last_insert_rowid(db_.handle());
    return true;
}

bool PlanStore::EraseClosed(int64_t location, int64_t id, bool* found) {
    Statement erase(db_.handle(), "DELETE FROM closed_days WHERE location_id = ? AND closed_id = ?");
    erase.Bind(location).Bind(id);
    if (erase.Step(), !erase.Done()) return *found = true, false;
    return *found = sqlite3_changes(db_.handle()) > 0;
}

std::string PlanStore::Setting(const std::string& key) {
    Statement select(db_.handle(), "SELECT value FROM settings WHERE key = ?");
    select.Bind(key);
    return select.Step() ? select.Text(0) : std::string();
}

bool PlanStore::SetSetting(const std::string& key, const std::string& value) {
    Statement write(db_.handle(), "INSERT OR REPLACE INTO settings(key, value) VALUES(?, ?)");
    write.Bind(key).Bind(value);
    return write.Step(), write.Done();
}

}  // namespace calendar_server
