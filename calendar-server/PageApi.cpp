#include "PageApi.h"

#include <algorithm>

#include "Answer.h"
#include "platform/Clock.h"
#include "platform/Zone.h"

#ifndef CALENDAR_SERVER_VERSION
#define CALENDAR_SERVER_VERSION "0"
#endif

using nlohmann::json;

namespace calendar_server {
namespace {

constexpr size_t kMostPassword = 1024;

// The page's answers go out as they are, named with their charset: the HTTP library compresses a plain
// "application/json" answer with its slowest setting, which takes longer (a tenth of a second for a busy
// week) than the bytes take over the venue's network.
const char* const kPageJson = "application/json; charset=utf-8";

void PageReply(httplib::Response& res, int status, const json& body) {
    Reply(res, status, body, kPageJson);
}

void Refuse(httplib::Response& res, int status, const std::string& message, const std::string& field = "") {
    json body{{"error", message}};
    if (!field.empty()) body["field"] = field;
    PageReply(res, status, body);
}

bool Number(const std::string& text, int64_t* value) {
    if (text.empty() || text.size() > 18) return false;
    int64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    *value = v;
    return true;
}

bool Body(const httplib::Request& req, httplib::Response& res, json* body) {
    try {
        *body = json::parse(req.body);
    } catch (const std::exception&) {
        Refuse(res, 400, "the body is not JSON");
        return false;
    }
    if (!body->is_object()) Refuse(res, 400, "the body is not a JSON object");
    return body->is_object();
}

uint64_t Today() {
    const uint64_t now = platform::LocalInstantNow();
    return now - now % platform::kTicksPerDay;
}

}  // namespace

PageApi::PageApi(CalendarServer& server, Options options) : server_(server), options_(options) {
    server_.readBy_ = [this](int64_t location, const std::string& address) {
        readers_.Read(location, address, platform::LocalInstantNow());
    };
}

PageApi::~PageApi() {
    server_.readBy_ = nullptr;
}

void PageApi::Register(httplib::Server& http) {
    using Handler = void (PageApi::*)(const httplib::Request&, httplib::Response&);
    auto bind = [this](Handler h) {
        return Route(this, h, [](httplib::Response& res, int status, const std::string& why) {
            Refuse(res, status, why);
        });
    };
    http.Get("/apiv1/status", bind(&PageApi::GetStatus));
    http.Get("/health", bind(&PageApi::GetHealth));
    http.Get(R"(/apiv1/plan/(\d+)/items)", bind(&PageApi::GetItems));
    http.Get(R"(/apiv1/plan/(\d+))", bind(&PageApi::GetPlans));
    http.Post(R"(/apiv1/plan/(\d+))", bind(&PageApi::WritePlan));
    http.Put(R"(/apiv1/plan/(\d+)/(\d+))", bind(&PageApi::WritePlan));
    http.Delete(R"(/apiv1/plan/(\d+)/(\d+))", bind(&PageApi::DeletePlan));
    http.Post(R"(/apiv1/plan/(\d+)/(\d+)/skip)", bind(&PageApi::Skip));
    http.Delete(R"(/apiv1/plan/(\d+)/(\d+)/skip/([0-9-]+))", bind(&PageApi::Unskip));
    http.Get(R"(/apiv1/closed/(\d+))", bind(&PageApi::GetClosed));
    http.Post(R"(/apiv1/closed/(\d+))", bind(&PageApi::AddClosed));
    http.Delete(R"(/apiv1/closed/(\d+)/(\d+))", bind(&PageApi::DeleteClosed));
    http.Post("/apiv1/login", bind(&PageApi::LogIn));
    http.Post("/apiv1/logout", bind(&PageApi::LogOut));
}

bool PageApi::SetPassword(CalendarServer& server, const std::string& password, std::string* error) {
    if (password.empty() || password.size() > kMostPassword)
        return *error = "the password must have 1 to 1024 bytes", false;
    std::string hash;
    if (!Login::Hash(password, &hash, error)) return false;
    std::lock_guard<std::mutex> lock(server.mutex_);
    Transaction tx(server.db_);
    if (!tx.ok() || !PlanStore(server.db_).SetSetting("password_hash", hash))
        return *error = "cannot write the database: " + server.db_.LastError(), false;
    return tx.Commit(error);
}

bool PageApi::PasswordSet() {
    std::lock_guard<std::mutex> lock(server_.mutex_);
    return !PlanStore(server_.db_).Setting("password_hash").empty();
}

bool PageApi::LoginRequired() const {
    return options_.requireLogin || !server_.access_.loopbackOnly;
}

bool PageApi::LoggedIn(const httplib::Request& req) {
    return login_.Valid(Login::SessionOfCookie(req.get_header_value("Cookie")));
}

bool PageApi::MayWrite(const httplib::Request& req, httplib::Response& res) {
    if (!LoginRequired() || LoggedIn(req)) return true;
    Refuse(res, 401, "log in to change the plan");
    return false;
}

bool PageApi::Editable(const httplib::Request& req, httplib::Response& res, int64_t* location) {
    if (!Number(req.matches[1], location) || !server_.KnownLocation(*location)) {
        Refuse(res, 404, "no such location");
        return false;
    }
    auto source = server_.sources_.find(*location);
    if (source == server_.sources_.end()) return true;
    Refuse(res, 409,
           "the actions of this location come from " + source->second->source() + "; change them there");
    return false;
}

PlanContext PageApi::Context(int64_t location) {
    PlanContext context;
    context.today = Today();
    Statement place(
        server_.db_.handle(),
        "SELECT 1 FROM locations WHERE location_id = ? AND latitude IS NOT NULL AND longitude IS NOT NULL");
    place.Bind(location);
    context.hasPlace = place.Step();
    for (const json& v : server_.Variables(location, false)) {
        context.variables.push_back(VariableInfo{v["name"].get<std::string>(), v["var_type"].get<int64_t>(),
                                                 v["var_data"].get<std::string>()});
    }
    return context;
}

bool PageApi::Commit(Transaction& tx, int64_t location, httplib::Response& res) {
    std::string why;
    if (!tx.Commit(&why)) {
        Refuse(res, 500, "cannot write the database: " + why);
        return false;
    }
    server_.PlansChanged(location);
    return true;
}

json PageApi::SourceOf(int64_t location, uint64_t now, std::string* trouble, bool* unhealthy) {
    trouble->clear();
    *unhealthy = false;
    auto source = server_.sources_.find(location);
    if (source == server_.sources_.end()) return json{{"kind", "database"}};
    return SourceStatus(source->second->source(), source->second->health(), now, trouble, unhealthy);
}

json PageApi::Status(const httplib::Request& req) {
    const uint64_t now = platform::LocalInstantNow();
    const int64_t offset = (static_cast<int64_t>(now) - static_cast<int64_t>(platform::UtcInstantNow())) /
                           static_cast<int64_t>(platform::kTicksPerSecond);
    std::vector<std::pair<int64_t, std::string>> locations;
    {
        std::lock_guard<std::mutex> lock(server_.mutex_);
        Statement select(server_.db_.handle(), "SELECT location_id, name FROM locations ORDER BY rowid");
        while (select.Step()) locations.emplace_back(select.Int(0), select.Text(1));
    }
    const bool passwordSet = PasswordSet();
    json list = json::array();
    for (const auto& l : locations) {
        std::string trouble;
        bool unhealthy = false;
        json entry{{"location_id", l.first},
                   {"name", l.second},
                   {"source", SourceOf(l.first, now, &trouble, &unhealthy)},
                   {"readers", readers_.List(l.first)}};
        if (!trouble.empty()) entry["trouble"] = trouble;
        list.push_back(std::move(entry));
    }
    // Rounded to whole minutes: the two clocks are read a moment apart.
    const int64_t minutes = (offset + (offset < 0 ? -30 : 30)) / 60;
    return json{
        {"version", CALENDAR_SERVER_VERSION},
        {"zone", platform::LocalZoneName()},
        {"offset_minutes", minutes},
        {"now", FormatLocalTime(now)},
        {"login",
         {{"required", LoginRequired()}, {"logged_in", LoggedIn(req)}, {"password_set", passwordSet}}},
        {"locations", list}};
}

int PageApi::Health(json* body) {
    const uint64_t now = platform::LocalInstantNow();
    json reasons = json::array();
    for (const auto& s : server_.sources_) {
        std::string trouble;
        bool unhealthy = false;
        SourceStatus(s.second->source(), s.second->health(), now, &trouble, &unhealthy);
        if (unhealthy) reasons.push_back("location " + std::to_string(s.first) + ": " + trouble);
    }
    *body = reasons.empty() ? json{{"status", "ok"}} : json{{"status", "trouble"}, {"reasons", reasons}};
    return reasons.empty() ? 200 : 503;
}

void PageApi::GetStatus(const httplib::Request& req, httplib::Response& res) {
    PageReply(res, 200, Status(req));
}

void PageApi::GetHealth(const httplib::Request&, httplib::Response& res) {
    json body;
    const int status = Health(&body);
    PageReply(res, status, body);
}

void PageApi::GetItems(const httplib::Request& req, httplib::Response& res) {
    int64_t location = 0;
    if (!Number(req.matches[1], &location)) return Refuse(res, 404, "no such location");
    uint64_t from = 0, to = 0;
    bool dateOnly = false;
    if (!ParseLocalTime(req.get_param_value("start"), &from, &dateOnly) || !dateOnly)
        return Refuse(res, 400, "a date YYYY-MM-DD", "start");
    if (!ParseLocalTime(req.get_param_value("end"), &to, &dateOnly) || !dateOnly)
        return Refuse(res, 400, "a date YYYY-MM-DD", "end");
    if (to < from) return Refuse(res, 400, "the last day is before the first", "end");
    if ((to - from) / platform::kTicksPerDay >= kMaxWindowDays)
        return Refuse(res, 400, "a window may span at most " + std::to_string(kMaxWindowDays) + " days",
                      "end");
    to += platform::kTicksPerDay - 1;
    std::vector<Occurrence> found;
    std::string why;
    if (const int status = server_.Expand(location, from, to, &found, &why)) return Refuse(res, status, why);
    json items = json::array();
    size_t size = 0;
    for (const Occurrence& o : found) {
        json item{{"date", FormatLocalTime(o.time)},          {"name", o.action["name"]},
                  {"macro_action", o.action["macro_action"]}, {"macro", o.action["macro"]},
                  {"macro_data", o.action["macro_data"]},     {"source", o.source}};
        if (o.plan) item["plan_id"] = o.plan;
        if (!o.sun.empty()) item["sun"] = o.sun;
        if (!o.closed.empty()) item["closed"] = o.closed;
        if (o.skipped) item["skipped"] = true;
        for (const char* key : {"name", "macro", "macro_data"})
            size += o.action[key].get<std::string>().size() + 48;
        if (size > kMaxAnswerBytes)
            return Refuse(res, 400, "the answer would be too large; ask a shorter window");
        items.push_back(std::move(item));
    }
    std::string trouble;
    bool unhealthy = false;
    const uint64_t now = platform::LocalInstantNow();
    PageReply(res, 200,
              json{{"location_id", location},
                   {"zone", platform::LocalZoneName()},
                   {"now", FormatLocalTime(now)},
                   {"editable", server_.sources_.count(location) == 0},
                   {"source", SourceOf(location, now, &trouble, &unhealthy)},
                   {"items", items}});
}

void PageApi::GetPlans(const httplib::Request& req, httplib::Response& res) {
    std::lock_guard<std::mutex> lock(server_.mutex_);
    int64_t location = 0;
    if (!Number(req.matches[1], &location) || !server_.KnownLocation(location))
        return Refuse(res, 404, "no such location");
    std::vector<Plan> plans;
    if (!PlanStore(server_.db_).Plans(location, &plans)) return Refuse(res, 500, "cannot read the database");
    json items = json::array();
    for (const Plan& p : plans) items.push_back(PlanJson(p));
    PageReply(res, 200, json{{"items", items}});
}

void PageApi::WritePlan(const httplib::Request& req, httplib::Response& res) {
    json body;
    if (!MayWrite(req, res) || !Body(req, res, &body)) return;
    std::lock_guard<std::mutex> lock(server_.mutex_);
    int64_t location = 0;
    if (!Editable(req, res, &location)) return;
    Plan plan;
    FieldError error;
    if (!ReadPlan(body, Context(location), &plan, &error))
        return Refuse(res, 400, error.message, error.field);
    plan.location = location;
    const bool replace = req.matches.size() > 2;
    if (replace && !Number(req.matches[2], &plan.id)) return Refuse(res, 404, "no such planned item");
    Transaction tx(server_.db_);
    PlanStore store(server_.db_);
    bool found = true;
    if (!tx.ok() || !(replace ? store.Replace(plan, &found) : store.Insert(&plan))) {
        return found ? Refuse(res, 500, "cannot write the database: " + server_.db_.LastError())
                     : Refuse(res, 404, "no such planned item");
    }
    if (!Commit(tx, location, res)) return;
    store.Find(location, plan.id, &plan);
    PageReply(res, replace ? 200 : 201, PlanJson(plan));
}

void PageApi::DeletePlan(const httplib::Request& req, httplib::Response& res) {
    if (!MayWrite(req, res)) return;
    std::lock_guard<std::mutex> lock(server_.mutex_);
    int64_t location = 0, id = 0;
    if (!Editable(req, res, &location)) return;
    if (!Number(req.matches[2], &id)) return Refuse(res, 404, "no such planned item");
    Transaction tx(server_.db_);
    bool found = true;
    if (!tx.ok() || !PlanStore(server_.db_).Erase(location, id, &found)) {
        return found ? Refuse(res, 500, "cannot write the database: " + server_.db_.LastError())
                     : Refuse(res, 404, "no such planned item");
    }
    if (Commit(tx, location, res)) PageReply(res, 200, json{{"id", id}});
}

void PageApi::Skip(const httplib::Request& req, httplib::Response& res) {
    json body;
    if (!MayWrite(req, res) || !Body(req, res, &body)) return;
    int64_t location = 0, id = 0;
    std::string date;
    {
        std::lock_guard<std::mutex> lock(server_.mutex_);
        if (!Editable(req, res, &location)) return;
        Plan plan;
        if (!Number(req.matches[2], &id) || !PlanStore(server_.db_).Find(location, id, &plan))
            return Refuse(res, 404, "no such planned item");
        for (auto it = body.begin(); it != body.end(); ++it) {
            if (it.key() != "date") return Refuse(res, 400, "unknown member", it.key());
        }
        std::string why;
        if (!ReadServedDate(body.value("date", json()), Today(), &date, &why))
            return Refuse(res, 400, why, "date");
    }
    // Only a date the item fires on can be skipped; the expansion tells.
    uint64_t day = 0;
    ParseLocalTime(date, &day, nullptr);
    std::vector<Occurrence> found;
    std::string why;
    if (const int status = server_.Expand(location, day, day + platform::kTicksPerDay - 1, &found, &why))
        return Refuse(res, status, why);
    if (std::none_of(found.begin(), found.end(), [&](const Occurrence& o) { return o.plan == id; }))
        return Refuse(res, 400, "the item has no occurrence on that date", "date");
    std::lock_guard<std::mutex> lock(server_.mutex_);
    Transaction tx(server_.db_);
    PlanStore store(server_.db_);
    Plan plan;
    if (!store.Find(location, id, &plan)) return Refuse(res, 404, "no such planned item");
    if (!tx.ok() || !store.Skip(id, date, true))
        return Refuse(res, 500, "cannot write the database: " + server_.db_.LastError());
    if (!Commit(tx, location, res)) return;
    store.Find(location, id, &plan);
    PageReply(res, 200, PlanJson(plan));
}

void PageApi::Unskip(const httplib::Request& req, httplib::Response& res) {
    if (!MayWrite(req, res)) return;
    std::lock_guard<std::mutex> lock(server_.mutex_);
    int64_t location = 0, id = 0;
    if (!Editable(req, res, &location)) return;
    PlanStore store(server_.db_);
    Plan plan;
    if (!Number(req.matches[2], &id) || !store.Find(location, id, &plan))
        return Refuse(res, 404, "no such planned item");
    Transaction tx(server_.db_);
    if (!tx.ok() || !store.Skip(id, req.matches[3], false))
        return Refuse(res, 500, "cannot write the database: " + server_.db_.LastError());
    if (!Commit(tx, location, res)) return;
    plan.skips.clear();
    store.Find(location, id, &plan);
    PageReply(res, 200, PlanJson(plan));
}

void PageApi::GetClosed(const httplib::Request& req, httplib::Response& res) {
    std::lock_guard<std::mutex> lock(server_.mutex_);
    int64_t location = 0;
    if (!Number(req.matches[1], &location) || !server_.KnownLocation(location))
        return Refuse(res, 404, "no such location");
    std::vector<ClosedDays> closed;
    if (!PlanStore(server_.db_).Closed(location, &closed))
        return Refuse(res, 500, "cannot read the database");
    json list = json::array();
    for (const ClosedDays& c : closed) list.push_back(ClosedJson(c));
    PageReply(res, 200, json{{"closed", list}});
}

// Closed days apply to a location whatever its source.
void PageApi::AddClosed(const httplib::Request& req, httplib::Response& res) {
    json body;
    if (!MayWrite(req, res) || !Body(req, res, &body)) return;
    std::lock_guard<std::mutex> lock(server_.mutex_);
    ClosedDays closed;
    if (!Number(req.matches[1], &closed.location) || !server_.KnownLocation(closed.location))
        return Refuse(res, 404, "no such location");
    FieldError error;
    if (!ReadClosed(body, Context(closed.location), &closed, &error))
        return Refuse(res, 400, error.message, error.field);
    Transaction tx(server_.db_);
    if (!tx.ok() || !PlanStore(server_.db_).AddClosed(&closed))
        return Refuse(res, 500, "cannot write the database: " + server_.db_.LastError());
    if (Commit(tx, closed.location, res)) PageReply(res, 201, ClosedJson(closed));
}

void PageApi::DeleteClosed(const httplib::Request& req, httplib::Response& res) {
    if (!MayWrite(req, res)) return;
    std::lock_guard<std::mutex> lock(server_.mutex_);
    int64_t location = 0, id = 0;
    if (!Number(req.matches[1], &location) || !server_.KnownLocation(location))
        return Refuse(res, 404, "no such location");
    Transaction tx(server_.db_);
    bool found = true;
    if (!Number(req.matches[2], &id) || !tx.ok() ||
        !PlanStore(server_.db_).EraseClosed(location, id, &found)) {
        return found ? Refuse(res, 500, "cannot write the database: " + server_.db_.LastError())
                     : Refuse(res, 404, "no such closed days");
    }
    if (Commit(tx, location, res)) PageReply(res, 200, json{{"id", id}});
}

void PageApi::LogIn(const httplib::Request& req, httplib::Response& res) {
    json body;
    if (!Body(req, res, &body)) return;
    if (!body.contains("password") || !body["password"].is_string() ||
        body["password"].get<std::string>().size() > kMostPassword) {
        return Refuse(res, 400, "the password is text", "password");
    }
    std::string hash;
    {
        std::lock_guard<std::mutex> lock(server_.mutex_);
        hash = PlanStore(server_.db_).Setting("password_hash");
    }
    std::string session;
    switch (login_.Try(req.remote_addr, body["password"].get<std::string>(), hash, &session)) {
        case Login::Result::kTooMany:
            return Refuse(res, 429, "too many failed logins from this address; wait a minute");
        case Login::Result::kWrong:
            return Refuse(
                res, 401,
                hash.empty() ? "no password is set: run calendar-server --set-password" : "wrong password",
                "password");
        case Login::Result::kIn:
            break;
    }
    res.set_header("Set-Cookie", Login::CookieOf(session));
    PageReply(res, 200, json{{"logged_in", true}});
}

void PageApi::LogOut(const httplib::Request& req, httplib::Response& res) {
    login_.End(Login::SessionOfCookie(req.get_header_value("Cookie")));
    res.set_header("Set-Cookie", Login::CookieOf(""));
    PageReply(res, 200, json{{"logged_in", false}});
}

}  // namespace calendar_server
