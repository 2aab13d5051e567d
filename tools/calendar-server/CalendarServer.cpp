#include "CalendarServer.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <limits>
#include <sstream>
#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

#include "platform/Clock.h"

using nlohmann::json;

namespace calendar_server {
namespace {

bool IsInteger(const json& v) { return v.is_number_integer(); }

bool AllDigits(const std::string& text, size_t from, size_t count) {
    if (from + count > text.size()) return false;
    for (size_t i = from; i < from + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
    }
    return true;
}

int Number(const std::string& text, size_t from, size_t count) {
    int v = 0;
    for (size_t i = from; i < from + count; ++i) v = v * 10 + (text[i] - '0');
    return v;
}

// A whole decimal integer, optionally negative, that fits 64 bits.
bool ParseId(const std::string& text, int64_t* id) {
    size_t i = text.size() > 1 && text[0] == '-' ? 1 : 0;
    if (i >= text.size() || text.size() - i > 18) return false;
    if (!AllDigits(text, i, text.size() - i)) return false;
    int64_t v = 0;
    for (; i < text.size(); ++i) v = v * 10 + (text[i] - '0');
    *id = text[0] == '-' ? -v : v;
    return true;
}

void Error(httplib::Response& res, int status, const std::string& message) {
    res.status = status;
    res.set_content(json{{"error", message}}.dump(), "application/json");
}

void Reply(httplib::Response& res, int status, const json& body) {
    res.status = status;
    // Replacing bytes that are not UTF-8 keeps a stored name from turning an answer into an exception.
    res.set_content(body.dump(-1, ' ', false, json::error_handler_t::replace), "application/json");
}

// Checks the members of a variable sent by a client. The id is required only for an update.
bool ValidVariable(const json& v, bool needId, std::string* why) {
    if (!v.is_object()) return *why = "the body is not a JSON object", false;
    if (!v.contains("location_id") || !IsInteger(v["location_id"])) return *why = "location_id must be an integer", false;
    if (!v.contains("name") || !v["name"].is_string() || v["name"].get<std::string>().empty()) {
        return *why = "name must be a non-empty string", false;
    }
    if (!v.contains("var_type") || !IsInteger(v["var_type"])) return *why = "var_type must be an integer", false;
    if (v.contains("var_data") && !v["var_data"].is_string()) return *why = "var_data must be a string", false;
    if (needId && (!v.contains("variable_id") || !IsInteger(v["variable_id"]) || v["variable_id"].get<int64_t>() <= 0)) {
        return *why = "variable_id must be a positive integer", false;
    }
    return true;
}

json ServedVariable(const json& v) {
    return json{{"variable_id", v["variable_id"]},
                {"location_id", v["location_id"]},
                {"name", v["name"]},
                {"var_type", v["var_type"]},
                {"var_data", v.value("var_data", std::string())}};
}

}  // namespace

bool ParseLocalTime(const std::string& text, uint64_t* instant, bool* dateOnly) {
    platform::CalendarTime t;
    if (text.size() != 10 && text.size() != 19) return false;
    if (!AllDigits(text, 0, 4) || text[4] != '-' || !AllDigits(text, 5, 2) || text[7] != '-' ||
        !AllDigits(text, 8, 2)) {
        return false;
    }
    t.year = static_cast<uint16_t>(Number(text, 0, 4));
    t.month = static_cast<uint16_t>(Number(text, 5, 2));
    t.day = static_cast<uint16_t>(Number(text, 8, 2));
    if (text.size() == 19) {
        if (text[10] != 'T' || !AllDigits(text, 11, 2) || text[13] != ':' || !AllDigits(text, 14, 2) ||
            text[16] != ':' || !AllDigits(text, 17, 2)) {
            return false;
        }
        t.hour = static_cast<uint16_t>(Number(text, 11, 2));
        t.minute = static_cast<uint16_t>(Number(text, 14, 2));
        t.second = static_cast<uint16_t>(Number(text, 17, 2));
    }
    if (!platform::CalendarToInstant(t, instant)) return false;
    if (dateOnly) *dateOnly = text.size() == 10;
    return true;
}

bool ParseActionDate(const std::string& text, uint64_t startInstant, uint64_t* instant) {
    if (text.empty() || (text[0] != '+' && text[0] != '-')) return ParseLocalTime(text, instant, nullptr);
    if (text.size() < 3 || text.size() > 14 || !AllDigits(text, 1, text.size() - 2)) return false;
    uint64_t unit = 0;
    switch (text.back()) {
        case 's': unit = platform::kTicksPerSecond; break;
        case 'm': unit = 60 * platform::kTicksPerSecond; break;
        case 'h': unit = 3600 * platform::kTicksPerSecond; break;
        case 'd': unit = platform::kTicksPerDay; break;
        default: return false;
    }
    uint64_t count = 0;
    for (size_t i = 1; i + 1 < text.size(); ++i) count = count * 10 + static_cast<uint64_t>(text[i] - '0');
    if (count > std::numeric_limits<uint64_t>::max() / unit) return false;
    const uint64_t offset = count * unit;
    if (text[0] == '-') {
        if (offset > startInstant) return false;
        *instant = startInstant - offset;
    } else {
        if (offset > std::numeric_limits<uint64_t>::max() - startInstant) return false;
        *instant = startInstant + offset;
    }
    platform::CalendarTime check;
    return platform::InstantToCalendar(*instant, &check);
}

std::string FormatLocalTime(uint64_t instant) {
    platform::CalendarTime t;
    platform::InstantToCalendar(instant, &t);
    char text[40];
    std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u", t.year, t.month, t.day, t.hour, t.minute,
                  t.second);
    return text;
}

bool CalendarServer::Load(const std::string& text, uint64_t startInstant, std::string* error) {
    json doc;
    try {
        doc = json::parse(text, nullptr, true, true);
    } catch (const std::exception& e) {
        return *error = std::string("not JSON: ") + e.what(), false;
    }
    if (!doc.is_object()) return *error = "the data is not a JSON object", false;
    for (const char* key : {"locations", "variables", "actions"}) {
        if (!doc.contains(key)) doc[key] = json::array();
        if (!doc[key].is_array()) return *error = std::string("\"") + key + "\" is not an array", false;
    }
    std::vector<int64_t> seen;
    for (const json& l : doc["locations"]) {
        if (!l.is_object() || !l.contains("location_id") || !IsInteger(l["location_id"])) {
            return *error = "a location needs an integer location_id", false;
        }
        if (l.contains("name") && !l["name"].is_string()) return *error = "a location name must be a string", false;
        if (l.contains("comment") && !l["comment"].is_string()) return *error = "a comment must be a string", false;
        const int64_t id = l["location_id"].get<int64_t>();
        if (std::find(seen.begin(), seen.end(), id) != seen.end()) return *error = "duplicate location_id", false;
        seen.push_back(id);
    }
    seen.clear();
    std::string why;
    for (const json& v : doc["variables"]) {
        if (!ValidVariable(v, true, &why)) return *error = "variable: " + why, false;
        const int64_t id = v["variable_id"].get<int64_t>();
        if (std::find(seen.begin(), seen.end(), id) != seen.end()) return *error = "duplicate variable_id", false;
        seen.push_back(id);
    }
    std::vector<Action> actions;
    for (const json& a : doc["actions"]) {
        if (!a.is_object() || !a.contains("location_id") || !IsInteger(a["location_id"])) {
            return *error = "an action needs an integer location_id", false;
        }
        uint64_t time = 0;
        if (!a.contains("date") || !a["date"].is_string() ||
            !ParseActionDate(a["date"].get<std::string>(), startInstant, &time)) {
            return *error = "an action needs a date: YYYY-MM-DDThh:mm:ss or +90s, +5m, -1h, +2d", false;
        }
        for (const char* key : {"name", "macro", "macro_data"}) {
            if (a.contains(key) && !a[key].is_string()) return *error = std::string(key) + " must be a string", false;
        }
        if (a.contains("macro_action") && !IsInteger(a["macro_action"])) {
            return *error = "macro_action must be an integer", false;
        }
        json record{{"name", a.value("name", std::string())},
                    {"macro", a.value("macro", std::string())},
                    {"date", FormatLocalTime(time)},
                    {"macro_action", a.value("macro_action", 0)},
                    {"macro_data", a.value("macro_data", std::string())}};
        actions.push_back(Action{a["location_id"].get<int64_t>(), time, std::move(record)});
    }
    std::stable_sort(actions.begin(), actions.end(),
                     [](const Action& x, const Action& y) { return x.time < y.time; });
    std::lock_guard<std::mutex> lock(mutex_);
    document_ = std::move(doc);
    actions_ = std::move(actions);
    return true;
}

bool CalendarServer::LoadFile(const std::string& path, uint64_t startInstant, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return *error = "cannot read " + path, false;
    std::stringstream text;
    text << in.rdbuf();
    return Load(text.str(), startInstant, error);
}

json CalendarServer::Document() {
    std::lock_guard<std::mutex> lock(mutex_);
    return document_;
}

void CalendarServer::Register(httplib::Server& server, std::ostream* log) {
    using Handler = void (CalendarServer::*)(const httplib::Request&, httplib::Response&);
    auto bind = [this](Handler h) {
        return [this, h](const httplib::Request& req, httplib::Response& res) {
            try {
                (this->*h)(req, res);
            } catch (const std::exception& e) {
                Error(res, 500, e.what());
            }
        };
    };
    server.Get("/apiv1/location", bind(&CalendarServer::GetLocations));
    server.Get("/apiv1/variable", bind(&CalendarServer::GetVariables));
    server.Post("/apiv1/variable", bind(&CalendarServer::CreateVariable));
    server.Put("/apiv1/variable", bind(&CalendarServer::UpdateVariable));
    server.Delete(R"(/apiv1/variable/(-?\d+))", bind(&CalendarServer::DeleteVariable));
    server.Get(R"(/apiv1/calendar/(-?\d+)/actions)", bind(&CalendarServer::GetActions));
    server.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (res.body.empty()) Error(res, res.status, res.status == 404 ? "not found" : "request failed");
    });
    if (log) {
        auto logMutex = std::make_shared<std::mutex>();
        server.set_logger([log, logMutex](const httplib::Request& req, const httplib::Response& res) {
            std::ostringstream line;
            line << req.remote_addr << " " << req.method << " " << req.target << " " << res.status << " "
                 << res.body.size() << "\n";
            std::lock_guard<std::mutex> lock(*logMutex);
            *log << line.str() << std::flush;
        });
    }
}

bool CalendarServer::KnownLocation(int64_t id) const {
    for (const json& l : document_["locations"]) {
        if (l["location_id"].get<int64_t>() == id) return true;
    }
    return false;
}

json::iterator CalendarServer::FindVariable(int64_t id) {
    json& vars = document_["variables"];
    return std::find_if(vars.begin(), vars.end(),
                        [id](const json& v) { return v["variable_id"].get<int64_t>() == id; });
}

void CalendarServer::GetLocations(const httplib::Request&, httplib::Response& res) {
    std::lock_guard<std::mutex> lock(mutex_);
    json list = json::array();
    for (const json& l : document_["locations"]) {
        list.push_back(json{{"location_id", l["location_id"]},
                            {"name", l.value("name", std::string())},
                            {"comment", l.value("comment", std::string())}});
    }
    Reply(res, 200, json{{"locations", list}});
}

void CalendarServer::GetVariables(const httplib::Request& req, httplib::Response& res) {
    int64_t location = 0;
    if (!req.has_param("locationid") || !ParseId(req.get_param_value("locationid"), &location)) {
        return Error(res, 400, "locationid must be an integer");
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (!KnownLocation(location)) return Error(res, 404, "no such location");
    json list = json::array();
    for (const json& v : document_["variables"]) {
        if (v["location_id"].get<int64_t>() == location) list.push_back(ServedVariable(v));
    }
    Reply(res, 200, json{{"variables", list}});
}

void CalendarServer::CreateVariable(const httplib::Request& req, httplib::Response& res) {
    json v;
    std::string why;
    try {
        v = json::parse(req.body);
    } catch (const std::exception&) {
        return Error(res, 400, "the body is not JSON");
    }
    if (!ValidVariable(v, false, &why)) return Error(res, 400, why);
    std::lock_guard<std::mutex> lock(mutex_);
    const int64_t location = v["location_id"].get<int64_t>();
    if (!KnownLocation(location)) return Error(res, 404, "no such location");
    int64_t next = 1;
    for (const json& old : document_["variables"]) {
        if (old["location_id"].get<int64_t>() == location && old["name"] == v["name"]) {
            return Error(res, 409, "a variable of that name exists at this location");
        }
        next = std::max(next, old["variable_id"].get<int64_t>() + 1);
    }
    json created{{"variable_id", next},
                 {"location_id", location},
                 {"name", v["name"]},
                 {"var_type", v["var_type"]},
                 {"var_data", v.value("var_data", std::string())}};
    const json saved = document_["variables"];
    document_["variables"].push_back(created);
    if (!Persist(&why)) {
        document_["variables"] = saved;
        return Error(res, 500, why);
    }
    Reply(res, 201, ServedVariable(created));
}

void CalendarServer::UpdateVariable(const httplib::Request& req, httplib::Response& res) {
    json v;
    std::string why;
    try {
        v = json::parse(req.body);
    } catch (const std::exception&) {
        return Error(res, 400, "the body is not JSON");
    }
    if (!ValidVariable(v, true, &why)) return Error(res, 400, why);
    std::lock_guard<std::mutex> lock(mutex_);
    if (!KnownLocation(v["location_id"].get<int64_t>())) return Error(res, 404, "no such location");
    const json saved = document_["variables"];
    auto it = FindVariable(v["variable_id"].get<int64_t>());
    if (it == document_["variables"].end()) return Error(res, 404, "no such variable");
    (*it)["location_id"] = v["location_id"];
    (*it)["name"] = v["name"];
    (*it)["var_type"] = v["var_type"];
    (*it)["var_data"] = v.value("var_data", std::string());
    const json updated = *it;
    if (!Persist(&why)) {
        document_["variables"] = saved;
        return Error(res, 500, why);
    }
    Reply(res, 200, ServedVariable(updated));
}

void CalendarServer::DeleteVariable(const httplib::Request& req, httplib::Response& res) {
    int64_t id = 0;
    if (!ParseId(req.matches[1], &id)) return Error(res, 404, "no such variable");
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = FindVariable(id);
    if (it == document_["variables"].end()) return Error(res, 404, "no such variable");
    const json saved = document_["variables"];
    document_["variables"].erase(it);
    std::string why;
    if (!Persist(&why)) {
        document_["variables"] = saved;
        return Error(res, 500, why);
    }
    Reply(res, 200, json{{"variable_id", id}});
}

void CalendarServer::GetActions(const httplib::Request& req, httplib::Response& res) {
    int64_t location = 0;
    if (!ParseId(req.matches[1], &location)) return Error(res, 404, "no such location");
    uint64_t from = 0;
    uint64_t to = 0;
    bool dateOnly = false;
    if (req.has_param("date")) {
        if (!ParseLocalTime(req.get_param_value("date"), &from, &dateOnly) || !dateOnly) {
            return Error(res, 400, "date must be YYYY-MM-DD");
        }
        to = from + platform::kTicksPerDay - 1;
    } else if (req.has_param("start") && req.has_param("end")) {
        if (!ParseLocalTime(req.get_param_value("start"), &from, nullptr)) {
            return Error(res, 400, "start must be YYYY-MM-DDThh:mm:ss");
        }
        if (!ParseLocalTime(req.get_param_value("end"), &to, &dateOnly)) {
            return Error(res, 400, "end must be YYYY-MM-DDThh:mm:ss");
        }
        // A whole second (or a whole day) named as the end belongs to the range.
        to += (dateOnly ? platform::kTicksPerDay : platform::kTicksPerSecond) - 1;
    } else {
        return Error(res, 400, "give date=YYYY-MM-DD or start= and end=");
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (!KnownLocation(location)) return Error(res, 404, "no such location");
    json list = json::array();
    for (const Action& a : actions_) {
        if (a.locationId == location && a.time >= from && a.time <= to) list.push_back(a.record);
    }
    Reply(res, 200, json{{"calendaractions", list}});
}

bool CalendarServer::Persist(std::string* error) {
    if (persistPath_.empty()) return true;
    // Written beside the file and renamed over it, so a reader never sees half a document.
    const std::string temp = persistPath_ + ".tmp";
    const std::string text = document_.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
    FILE* f = std::fopen(temp.c_str(), "wb");
    if (!f) return *error = "cannot write " + temp, false;
    bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    ok = std::fflush(f) == 0 && ok;
#if defined(_WIN32)
    ok = _commit(_fileno(f)) == 0 && ok;
#else
    ok = fsync(fileno(f)) == 0 && ok;
#endif
    ok = std::fclose(f) == 0 && ok;
    if (!ok || std::rename(temp.c_str(), persistPath_.c_str()) != 0) {
        std::remove(temp.c_str());
        return *error = "cannot write " + persistPath_, false;
    }
    return true;
}

}  // namespace calendar_server
