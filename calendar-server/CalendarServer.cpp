#include "CalendarServer.h"

#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <limits>
#include <sstream>

#include "Answer.h"
#include "PageAssets.h"
#include "PlanStore.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "platform/LocalZone.h"
#include "platform/MachineNames.h"

using nlohmann::json;

namespace calendar_server {
namespace {

constexpr int64_t kSchemaVersion = 3;

bool IsInteger(const json& v) {
    return v.is_number_integer();
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

// Checks the members of a variable sent by a client. The id is required only for an update.
// A location's coordinates are optional, but come as a pair.
bool ValidPlace(const json& l) {
    if (!l.contains("latitude") && !l.contains("longitude")) return true;
    return l.contains("latitude") && l.contains("longitude") && l["latitude"].is_number() &&
           l["longitude"].is_number() &&
           ValidCoordinates(l["latitude"].get<double>(), l["longitude"].get<double>());
}

bool ValidVariable(const json& v, bool needId, std::string* why) {
    if (!v.is_object()) return *why = "the body is not a JSON object", false;
    if (!v.contains("location_id") || !IsInteger(v["location_id"]))
        return *why = "location_id must be an integer", false;
    if (!v.contains("name") || !v["name"].is_string() || v["name"].get<std::string>().empty()) {
        return *why = "name must be a non-empty string", false;
    }
    if (!v.contains("var_type") || !IsInteger(v["var_type"]))
        return *why = "var_type must be an integer", false;
    if (v.contains("var_data") && !v["var_data"].is_string())
        return *why = "var_data must be a string", false;
    if (needId && (!v.contains("variable_id") || !IsInteger(v["variable_id"]) ||
                   v["variable_id"].get<int64_t>() <= 0)) {
        return *why = "variable_id must be a positive integer", false;
    }
    return true;
}

// The tables every version of the schema has.
const char* const kTables[] = {"actions", "calendar_copies", "locations", "variables"};

// Looks at an existing database file without writing to it, so that a file this server must not take is
// left exactly as it was: a newer schema, another program's tables, damage.
bool CheckDatabase(const std::string& path, std::string* error) {
    Database db;
    if (!db.Open(path, error, true)) return false;
    int64_t version = 0;
    {
        Statement read(db.handle(), "PRAGMA user_version");
        if (!read.Step()) return *error = path + " is not a calendar database: " + db.LastError(), false;
        version = read.Int(0);
    }
    if (version > kSchemaVersion) {
        return *error = path + " has schema " + std::to_string(version) + ", this server knows " +
                        std::to_string(kSchemaVersion),
               false;
    }
    std::vector<std::string> tables;
    Statement list(db.handle(), "SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name");
    while (list.Step()) tables.push_back(list.Text(0));
    if (!list.Done()) return *error = path + " cannot be read: " + db.LastError(), false;
    // Without a version it may only be empty: any table is another program's.
    if (version == 0 && !tables.empty()) {
        std::string names;
        for (const std::string& t : tables) names += (names.empty() ? "" : ", ") + t;
        return *error = path + " is not a calendar database (it holds the tables " + names + ")", false;
    }
    for (const char* table : kTables) {
        if (version > 0 && std::find(tables.begin(), tables.end(), table) == tables.end())
            return *error = path + " is not a calendar database (it has no table " + table + ")", false;
    }
    // The planning tables came with schema 3.
    for (const char* table : {"closed_days", "plan_skips", "plans", "settings"}) {
        if (version >= 3 && std::find(tables.begin(), tables.end(), table) == tables.end())
            return *error = path + " is not a calendar database (it has no table " + table + ")", false;
    }
    Statement check(db.handle(), "PRAGMA quick_check");
    if (!check.Step()) return *error = path + " is damaged: " + db.LastError(), false;
    if (check.Text(0) != "ok") return *error = path + " is damaged: " + check.Text(0), false;
    return true;
}

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

json ServedVariable(const json& v) {
    return json{{"variable_id", v["variable_id"]},
                {"location_id", v["location_id"]},
                {"name", v["name"]},
                {"var_type", v["var_type"]},
                {"var_data", v.value("var_data", std::string())}};
}

}  // namespace

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
        if (l.contains("name") && !l["name"].is_string())
            return *error = "a location name must be a string", false;
        if (l.contains("comment") && !l["comment"].is_string())
            return *error = "a comment must be a string", false;
        if (!ValidPlace(l)) {
            return *error = "a location's latitude and longitude must both be numbers, within +-90 and +-180",
                   false;
        }
        const int64_t id = l["location_id"].get<int64_t>();
        if (std::find(seen.begin(), seen.end(), id) != seen.end())
            return *error = "duplicate location_id", false;
        seen.push_back(id);
    }
    seen.clear();
    std::string why;
    for (const json& v : doc["variables"]) {
        if (!ValidVariable(v, true, &why)) return *error = "variable: " + why, false;
        const int64_t id = v["variable_id"].get<int64_t>();
        if (std::find(seen.begin(), seen.end(), id) != seen.end())
            return *error = "duplicate variable_id", false;
        seen.push_back(id);
    }
    struct Action {
        int64_t location;
        uint64_t time;
        json record;
    };
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
            if (a.contains(key) && !a[key].is_string())
                return *error = std::string(key) + " must be a string", false;
        }
        if (a.contains("macro_action") && !IsInteger(a["macro_action"])) {
            return *error = "macro_action must be an integer", false;
        }
        json record{{"name", a.value("name", std::string())},
                    {"macro", a.value("macro", std::string())},
                    {"macro_action", a.value("macro_action", int64_t(0))},
                    {"macro_data", a.value("macro_data", std::string())}};
        actions.push_back(Action{a["location_id"].get<int64_t>(), time, std::move(record)});
    }
    std::stable_sort(actions.begin(), actions.end(),
                     [](const Action& x, const Action& y) { return x.time < y.time; });
    std::lock_guard<std::mutex> lock(mutex_);
    document_ = std::move(doc);
    {
        Statement count(db_.handle(),
                        "SELECT (SELECT COUNT(*) FROM locations) + (SELECT COUNT(*) FROM variables) + "
                        "(SELECT COUNT(*) FROM actions)");
        if (!count.Step()) return *error = "cannot read the database: " + db_.LastError(), false;
        seeded_ = count.Int(0) == 0;
    }
    if (!seeded_) return true;
    Transaction tx(db_);
    bool ok = tx.ok();
    for (const json& l : document_["locations"]) {
        Statement insert(db_.handle(), "INSERT INTO locations(location_id, name, comment) VALUES(?, ?, ?)");
        insert.Bind(l["location_id"].get<int64_t>())
            .Bind(l.value("name", std::string()))
            .Bind(l.value("comment", std::string()));
        ok = ok && (insert.Step(), insert.Done());
        if (l.contains("latitude")) {
            ok = ok && StorePlace(l["location_id"].get<int64_t>(),
                                  Coordinates{l["latitude"].get<double>(), l["longitude"].get<double>()});
        }
    }
    for (const json& v : document_["variables"]) {
        Statement insert(db_.handle(),
                         "INSERT INTO variables(variable_id, location_id, name, var_type, var_data) "
                         "VALUES(?, ?, ?, ?, ?)");
        insert.Bind(v["variable_id"].get<int64_t>())
            .Bind(v["location_id"].get<int64_t>())
            .Bind(v["name"].get<std::string>())
            .Bind(v["var_type"].get<int64_t>())
            .Bind(v.value("var_data", std::string()));
        ok = ok && (insert.Step(), insert.Done());
    }
    for (const Action& a : actions) {
        Statement insert(db_.handle(),
                         "INSERT INTO actions(location_id, time, name, macro, macro_action, macro_data) "
                         "VALUES(?, ?, ?, ?, ?, ?)");
        insert.Bind(a.location)
            .Bind(static_cast<int64_t>(a.time))
            .Bind(a.record["name"].get<std::string>())
            .Bind(a.record["macro"].get<std::string>())
            .Bind(a.record["macro_action"].get<int64_t>())
            .Bind(a.record["macro_data"].get<std::string>());
        ok = ok && (insert.Step(), insert.Done());
    }
    if (!ok || !tx.Commit(error)) {
        if (error->empty()) *error = "cannot write the database: " + db_.LastError();
        return seeded_ = false, false;
    }
    return true;
}

CalendarServer::CalendarServer() {
    SetNotes([](const std::string& line) {
        static std::mutex lock;
        std::lock_guard<std::mutex> hold(lock);
        std::cerr << "calendar-server: " << line << std::endl;
    });
    std::string error;
    if (!db_.Open(":memory:", &error) || !CreateSchema(&error)) Note("in-memory database: " + error);
}

CalendarServer::~CalendarServer() {
    // The readers call back into the database; they end first.
    for (auto& s : sources_) s.second->Stop();
}

bool CalendarServer::OpenDatabase(const std::string& path, std::string* error) {
    std::lock_guard<std::mutex> lock(mutex_);
    uint64_t size = 0;
    std::string why;
    const platform::FileState state = platform::QueryFile(path, &size, &why);
    if (state == platform::FileState::kUnreadable) return *error = "cannot open " + path + ": " + why, false;
    if (state == platform::FileState::kMissing) {
        if (!CreateDatabase(path, error)) return false;
    } else if (size == 0) {
        // This server never leaves an empty file where a database belongs (CreateDatabase), so an empty
        // one is another program's, or a database cut short: taking it as new would hide the loss.
        return *error =
                   path + " is empty and was not created by this server; remove it to start a new database",
               false;
    } else if (!CheckDatabase(path, error)) {
        return false;
    }
    return db_.Open(path, error) && CreateSchema(error);
}

// A new database is built beside its path and linked into place whole, with its tables: a file at the path
// is always a database of this server's, never an empty one that a crash left behind.
bool CalendarServer::CreateDatabase(const std::string& path, std::string* error) {
    const std::string building = path + ".new";
    for (const char* suffix : {"", "-journal", "-wal", "-shm"}) std::remove((building + suffix).c_str());
    bool ok = db_.Open(building, error) && CreateSchema(error);
    db_.Close();
    // Never over a database another process put there meanwhile.
    std::string why;
    if (ok && !platform::PlaceFileIfAbsent(building, path, &why)) {
        ok = false;
        *error = "cannot create " + path + ": " + why;
    }
    std::remove(building.c_str());
    return ok;
}

bool CalendarServer::CreateSchema(std::string* error) {
    // A write-ahead log with every commit synced: a crash (or a kill) in the middle of a write leaves the
    // last committed state, and a committed answer is never lost.
    if (!db_.Exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL", error)) return false;
    int64_t found = 0;
    {
        Statement version(db_.handle(), "PRAGMA user_version");
        if (!version.Step()) return *error = "not a calendar database: " + db_.LastError(), false;
        found = version.Int(0);
    }
    if (found == kSchemaVersion) return true;
    if (found == 1 && !MigrateToPlaces(error)) return false;
    if (found == 1 || found == 2) return MigrateToPlans(error);
    if (found != 0) {
        return *error = "the database has schema " + std::to_string(found) + ", this server knows " +
                        std::to_string(kSchemaVersion),
               false;
    }
    Transaction tx(db_);
    const bool created = tx.ok() &&
                         db_.Exec(R"(
        CREATE TABLE locations(location_id INTEGER NOT NULL UNIQUE, name TEXT NOT NULL, comment TEXT NOT NULL,
                               from_calendar INTEGER NOT NULL DEFAULT 0, latitude REAL, longitude REAL);
        CREATE TABLE variables(variable_id INTEGER NOT NULL UNIQUE, location_id INTEGER NOT NULL,
                               name TEXT NOT NULL, var_type INTEGER NOT NULL, var_data TEXT NOT NULL);
        CREATE TABLE actions(location_id INTEGER NOT NULL, time INTEGER NOT NULL, name TEXT NOT NULL,
                             macro TEXT NOT NULL, macro_action INTEGER NOT NULL, macro_data TEXT NOT NULL);
        CREATE INDEX actions_by_time ON actions(location_id, time);
        CREATE TABLE calendar_copies(location_id INTEGER PRIMARY KEY, source TEXT NOT NULL, body BLOB NOT NULL);
        PRAGMA user_version = 3;)",
                                  error) &&
                         CreatePlanTables(db_, error);
    return created && tx.Commit(error);
}

// Schema 1 had no coordinates: every row stays, the locations have none yet.
bool CalendarServer::MigrateToPlaces(std::string* error) {
    Transaction tx(db_);
    return tx.ok() &&
           db_.Exec(
               "ALTER TABLE locations ADD COLUMN latitude REAL; "
               "ALTER TABLE locations ADD COLUMN longitude REAL; PRAGMA user_version = 2;",
               error) &&
           tx.Commit(error);
}

// Schema 2 had no planning: every row stays, the planning tables start empty.
bool CalendarServer::MigrateToPlans(std::string* error) {
    Transaction tx(db_);
    return tx.ok() && CreatePlanTables(db_, error) && db_.Exec("PRAGMA user_version = 3;", error) &&
           tx.Commit(error);
}

bool CalendarServer::StorePlace(int64_t location, const Coordinates& place) {
    Statement update(db_.handle(), "UPDATE locations SET latitude = ?, longitude = ? WHERE location_id = ?");
    update.BindReal(place.latitude).BindReal(place.longitude).Bind(location);
    // The planned sun events follow the new place.
    PlansChanged(location);
    return update.Step(), update.Done();
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
    json doc = document_;
    doc["variables"] = Variables(0, true);
    return doc;
}

bool CalendarServer::AddIcsSource(int64_t location, const std::string& source, IcsSource::Options options,
                                  std::string* error) {
    if (sources_.count(location))
        return *error = "location " + std::to_string(location) + " has two calendars", false;
    std::lock_guard<std::mutex> lock(mutex_);
    if (!KnownLocation(location)) {
        // Named after the source until the calendar tells its own name.
        Statement insert(
            db_.handle(),
            "INSERT INTO locations(location_id, name, comment, from_calendar) VALUES(?, ?, '', 1)");
        insert.Bind(location).Bind(source);
        if (insert.Step(), !insert.Done())
            return *error = "cannot write the database: " + db_.LastError(), false;
    }
    // Coordinates given now replace the stored ones; without, the stored ones serve.
    if (options.place && !StorePlace(location, *options.place))
        return *error = "cannot write the database: " + db_.LastError(), false;
    Statement place(
        db_.handle(),
        "SELECT latitude, longitude FROM locations WHERE location_id = ? AND latitude IS NOT NULL "
        "AND longitude IS NOT NULL");
    place.Bind(location);
    if (place.Step()) options.place = Coordinates{place.Real(0), place.Real(1)};
    auto reader = std::make_unique<IcsSource>(
        location, source, options, [this](const std::string& line) { Note(line); },
        [this, location, source](const std::string& text, const IcsCalendar& calendar) {
            CalendarRead(location, source, text, calendar);
        });
    Statement copy(db_.handle(), "SELECT body FROM calendar_copies WHERE location_id = ? AND source = ?");
    copy.Bind(location).Bind(source);
    if (copy.Step()) reader->Preload(copy.Text(0));
    sources_[location] = std::move(reader);
    return true;
}

void CalendarServer::StartSources(int waitMs) {
    for (auto& s : sources_) s.second->Start();
    for (auto& s : sources_) s.second->WaitFirstRead(waitMs);
}

// A newly read calendar is kept, so that a restart while its source is unreachable still has it.
void CalendarServer::CalendarRead(int64_t location, const std::string& source, const std::string& text,
                                  const IcsCalendar& calendar) {
    std::lock_guard<std::mutex> lock(mutex_);
    Transaction tx(db_);
    Statement copy(db_.handle(),
                   "INSERT OR REPLACE INTO calendar_copies(location_id, source, body) VALUES(?, ?, ?)");
    copy.Bind(location).Bind(source).Bind(text);
    bool ok = (copy.Step(), copy.Done());
    if (!calendar.name().empty()) {
        Statement rename(db_.handle(),
                         "UPDATE locations SET name = ? WHERE location_id = ? AND from_calendar = 1");
        rename.Bind(calendar.name()).Bind(location);
        ok = ok && (rename.Step(), rename.Done());
    }
    std::string why;
    if (!ok || !tx.Commit(&why))
        Note("location " + std::to_string(location) +
             ": cannot keep a copy of the calendar: " + db_.LastError());
}

void CalendarServer::SetAccess(Access access) {
    access_ = std::move(access);
    ownNames_ = platform::MachineNames();
}

void CalendarServer::Note(const std::string& line) {
    if (notes_) notes_(line);
}

void CalendarServer::Register(httplib::Server& server, std::ostream* log) {
    using Handler = void (CalendarServer::*)(const httplib::Request&, httplib::Response&);
    auto bind = [this](Handler h) { return Route(this, h, Error); };
    server.set_payload_max_length(kMaxBodyBytes);
    // Our own listener refuses clients of other networks before they take a thread.
    if (auto* front = dynamic_cast<HttpServer*>(&server)) front->SetClients(access_.clients);
    server.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        std::string why;
        int status = Refusal(req, &why);
        // Refused on its length alone: the body is not waited for.
        if (status == 0 && req.get_header_value<uint64_t>("Content-Length") > kMaxBodyBytes) {
            status = 413;
            why = "a request body may hold at most " + std::to_string(kMaxBodyBytes >> 20) + " MiB";
        }
        if (status == 0) return httplib::Server::HandlerResponse::Unhandled;
        Error(res, status, why);
        res.set_header("Connection", "close");
        HttpServer::EndAfterAnswer();
        return httplib::Server::HandlerResponse::Handled;
    });
    server.Get("/apiv1/location", bind(&CalendarServer::GetLocations));
    server.Get("/apiv1/variable", bind(&CalendarServer::GetVariables));
    server.Post("/apiv1/variable", bind(&CalendarServer::CreateVariable));
    server.Put("/apiv1/variable", bind(&CalendarServer::UpdateVariable));
    server.Delete(R"(/apiv1/variable/(-?\d+))", bind(&CalendarServer::DeleteVariable));
    server.Get(R"(/apiv1/calendar/(-?\d+)/actions)", bind(&CalendarServer::GetActions));
    RegisterPage(server);
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

int CalendarServer::Refusal(const httplib::Request& req, std::string* why) const {
    if (!access_.clients.empty() &&
        std::none_of(access_.clients.begin(), access_.clients.end(),
                     [&](const Network& n) { return InNetwork(n, req.remote_addr); })) {
        return *why = "this server does not serve " + req.remote_addr, 403;
    }
    // A page whose site name is made to point at this server sends that name as its Host: only this
    // machine's own names and addresses, and the names given, are answered to.
    const std::string host = Lower(req.get_header_value("Host"));
    if (req.has_header("Host")) {
        // The name without its port; an IPv6 address comes in brackets.
        std::string name = host;
        if (!name.empty() && name[0] == '[') {
            name = name.substr(1, name.find(']') - 1);
        } else {
            name = name.substr(0, name.find(':'));
        }
        Network address;
        const bool isAddress = ParseNetwork(name, &address);
        auto same = [&](const std::string& other) {
            return other == name || (isAddress && InNetwork(address, other));
        };
        if (name != "localhost" && !IsLoopbackAddress(name) && !same(req.local_addr) &&
            std::none_of(ownNames_.begin(), ownNames_.end(), same) &&
            std::find(access_.hosts.begin(), access_.hosts.end(), name) == access_.hosts.end()) {
            return *why =
                       "this server answers only to names of this machine (and those given with "
                       "--allow-host), not " +
                       name,
                   403;
        }
    }
    // Requests a browser sends on behalf of another site's page.
    if (req.has_header("Origin") && Lower(req.get_header_value("Origin")) != "http://" + host) {
        return *why = "requests from the page of another site are refused", 403;
    }
    if (Lower(req.get_header_value("Sec-Fetch-Site")) == "cross-site")
        return *why = "requests from the page of another site are refused", 403;
    // A browser sends these types to any site without asking first; the server's writes are never one.
    if (req.method != "GET" && req.method != "HEAD" && req.method != "OPTIONS") {
        std::string type = Lower(req.get_header_value("Content-Type"));
        type = type.substr(0, type.find(';'));
        type.erase(type.find_last_not_of(" \t") + 1);
        if (type == "text/plain" || type == "application/x-www-form-urlencoded" ||
            type == "multipart/form-data") {
            return *why = "a write may not be sent as " + type, 415;
        }
    }
    return 0;
}

bool CalendarServer::KnownLocation(int64_t id) {
    Statement known(db_.handle(), "SELECT 1 FROM locations WHERE location_id = ?");
    known.Bind(id);
    return known.Step();
}

json CalendarServer::Variables(int64_t location, bool all) {
    Statement select(db_.handle(),
                     "SELECT variable_id, location_id, name, var_type, var_data FROM variables "
                     "WHERE ? OR location_id = ? ORDER BY rowid");
    select.Bind(all ? 1 : 0).Bind(location);
    json list = json::array();
    while (select.Step()) {
        list.push_back(json{{"variable_id", select.Int(0)},
                            {"location_id", select.Int(1)},
                            {"name", select.Text(2)},
                            {"var_type", select.Int(3)},
                            {"var_data", select.Text(4)}});
    }
    if (!select.Done()) throw std::runtime_error("cannot read the database: " + db_.LastError());
    return list;
}

void CalendarServer::GetLocations(const httplib::Request&, httplib::Response& res) {
    std::lock_guard<std::mutex> lock(mutex_);
    json list = json::array();
    Statement select(db_.handle(), "SELECT location_id, name, comment FROM locations ORDER BY rowid");
    while (select.Step()) {
        list.push_back(
            json{{"location_id", select.Int(0)}, {"name", select.Text(1)}, {"comment", select.Text(2)}});
    }
    if (!select.Done()) return Error(res, 500, "cannot read the database: " + db_.LastError());
    Reply(res, 200, json{{"locations", list}});
}

void CalendarServer::GetVariables(const httplib::Request& req, httplib::Response& res) {
    int64_t location = 0;
    if (!req.has_param("locationid") || !ParseId(req.get_param_value("locationid"), &location)) {
        return Error(res, 400, "locationid must be an integer");
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (!KnownLocation(location)) return Error(res, 404, "no such location");
    Reply(res, 200, json{{"variables", Variables(location, false)}});
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
    Statement same(db_.handle(), "SELECT 1 FROM variables WHERE location_id = ? AND name = ?");
    same.Bind(location).Bind(v["name"].get<std::string>());
    if (same.Step()) return Error(res, 409, "a variable of that name exists at this location");
    Transaction tx(db_);
    Statement highest(db_.handle(), "SELECT MAX(variable_id) FROM variables");
    const int64_t next = highest.Step() ? std::max<int64_t>(1, highest.Int(0) + 1) : 1;
    const json created{{"variable_id", next},
                       {"location_id", location},
                       {"name", v["name"]},
                       {"var_type", v["var_type"]},
                       {"var_data", v.value("var_data", std::string())}};
    Statement insert(
        db_.handle(),
        "INSERT INTO variables(variable_id, location_id, name, var_type, var_data) VALUES(?, ?, ?, ?, ?)");
    insert.Bind(next)
        .Bind(location)
        .Bind(v["name"].get<std::string>())
        .Bind(v["var_type"].get<int64_t>())
        .Bind(created["var_data"].get<std::string>());
    if (!tx.ok() || (insert.Step(), !insert.Done()))
        return Error(res, 500, "cannot write the database: " + db_.LastError());
    if (!Persist(&why) || !tx.Commit(&why)) return Error(res, 500, why);
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
    Transaction tx(db_);
    Statement update(
        db_.handle(),
        "UPDATE variables SET location_id = ?, name = ?, var_type = ?, var_data = ? WHERE variable_id = ?");
    const json updated{{"variable_id", v["variable_id"]},
                       {"location_id", v["location_id"]},
                       {"name", v["name"]},
                       {"var_type", v["var_type"]},
                       {"var_data", v.value("var_data", std::string())}};
    update.Bind(v["location_id"].get<int64_t>())
        .Bind(v["name"].get<std::string>())
        .Bind(v["var_type"].get<int64_t>())
        .Bind(updated["var_data"].get<std::string>())
        .Bind(v["variable_id"].get<int64_t>());
    if (!tx.ok() || (update.Step(), !update.Done()))
        return Error(res, 500, "cannot write the database: " + db_.LastError());
    if (sqlite3_changes(db_.handle()) == 0) return Error(res, 404, "no such variable");
    if (!Persist(&why) || !tx.Commit(&why)) return Error(res, 500, why);
    Reply(res, 200, ServedVariable(updated));
}

void CalendarServer::DeleteVariable(const httplib::Request& req, httplib::Response& res) {
    int64_t id = 0;
    if (!ParseId(req.matches[1], &id)) return Error(res, 404, "no such variable");
    std::lock_guard<std::mutex> lock(mutex_);
    Transaction tx(db_);
    Statement erase(db_.handle(), "DELETE FROM variables WHERE variable_id = ?");
    erase.Bind(id);
    if (!tx.ok() || (erase.Step(), !erase.Done()))
        return Error(res, 500, "cannot write the database: " + db_.LastError());
    if (sqlite3_changes(db_.handle()) == 0) return Error(res, 404, "no such variable");
    std::string why;
    if (!Persist(&why) || !tx.Commit(&why)) return Error(res, 500, why);
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
    if (to >= from && to - from >= kMaxWindowDays * platform::kTicksPerDay) {
        return Error(res, 400, "a window may span at most " + std::to_string(kMaxWindowDays) + " days");
    }
    const std::string tooLarge =
        "the answer would exceed " + std::to_string(kMaxAnswerBytes >> 20) + " MiB; ask a shorter window";
    bool direct = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!KnownLocation(location)) return Error(res, 404, "no such location");
        if (readBy_) readBy_(location, req.remote_addr);
        // A calendar's answer is written straight from its occurrences unless closed days take some out.
        direct = sources_.count(location) && !ClosedWithin(location, from, to);
    }
    if (!direct) {
        std::vector<Occurrence> found;
        std::string why;
        if (const int status = Expand(location, from, to, &found, &why)) return Error(res, status, why);
        json list = json::array();
        size_t size = 0;
        for (Occurrence& o : found) {
            if (!o.Fires()) continue;
            // The members' text and their names and punctuation.
            for (const char* key : {"name", "macro", "macro_data"})
                size += o.action[key].get<std::string>().size() + 32;
            if (size > kMaxAnswerBytes) return Error(res, 400, tooLarge);
            json action{{"name", o.action["name"]},
                        {"macro", o.action["macro"]},
                        {"date", FormatLocalTime(o.time)},
                        {"macro_action", o.action["macro_action"]},
                        {"macro_data", o.action["macro_data"]}};
            list.push_back(std::move(action));
        }
        return Reply(res, 200, json{{"calendaractions", list}});
    }
    // A calendar's occurrences are worked out without holding the database.
    IcsSource& source = *sources_.at(location);
    auto calendar = source.Current();
    // No list rather than an empty one: a client keeps what it read before.
    if (!calendar) return Error(res, 503, "the calendar of this location has not been read yet");
    if (to > calendar->indexedTo()) source.Requested(to);
    std::string text = "{\"calendaractions\":[";
    // An answer cut by time would lose cues without a word: the client keeps what it read before.
    if (!calendar->AppendActions(from, to, &text))
        return Error(res, 503,
                     "the server is too busy to expand this calendar for that window; ask again later");
    if (text.size() > kMaxAnswerBytes) return Error(res, 400, tooLarge);
    res.status = 200;
    res.set_content(text + "]}", "application/json");
}

bool CalendarServer::Persist(std::string* error) {
    if (persistPath_.empty()) return true;
    json doc = document_;
    doc["variables"] = Variables(0, true);
    const std::string text = doc.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
    if (!platform::ReplaceFileWhole(persistPath_, text))
        return *error = "cannot write " + persistPath_, false;
    return true;
}

}  // namespace calendar_server
