// The plan page's JSON requests: the server's status and health, a location's items of a window (from
// the expansion that answers the plug-in), its planned items and closed days, and the log-in that the
// page's writes need when the server listens beyond loopback (or is told to).
#pragma once

#include <httplib.h>

#include <cstdint>
#include <string>

#include "CalendarServer.h"
#include "Login.h"
#include "PlanStore.h"
#include "Status.h"

namespace calendar_server {

class PageApi {
public:
    struct Options {
        bool requireLogin = false;  // also on loopback
    };
    PageApi(CalendarServer& server, Options options);

    // Installs the routes; after the server's own Register (whose access rules apply to these too).
    void Register(httplib::Server& http);

    // Stores the password of the page's writes (hashed); false with a message.
    static bool SetPassword(CalendarServer& server, const std::string& password, std::string* error);

    bool PasswordSet();
    // The status document and the health (200 or 503) as answered.
    nlohmann::json Status(const httplib::Request& req);
    int Health(nlohmann::json* body);

private:
    void GetStatus(const httplib::Request& req, httplib::Response& res);
    void GetHealth(const httplib::Request& req, httplib::Response& res);
    void GetItems(const httplib::Request& req, httplib::Response& res);
    void GetPlans(const httplib::Request& req, httplib::Response& res);
    void WritePlan(const httplib::Request& req, httplib::Response& res);
    void DeletePlan(const httplib::Request& req, httplib::Response& res);
    void Skip(const httplib::Request& req, httplib::Response& res);
    void Unskip(const httplib::Request& req, httplib::Response& res);
    void GetClosed(const httplib::Request& req, httplib::Response& res);
    void AddClosed(const httplib::Request& req, httplib::Response& res);
    void DeleteClosed(const httplib::Request& req, httplib::Response& res);
    void LogIn(const httplib::Request& req, httplib::Response& res);
    void LogOut(const httplib::Request& req, httplib::Response& res);

    bool LoginRequired() const;
    bool LoggedIn(const httplib::Request& req);
    // Whether a write may go on; answers the refusal otherwise.
    bool MayWrite(const httplib::Request& req, httplib::Response& res);
    // Location of the first path part, known and planned in the database (mutex_ held); answers the
    // refusal otherwise.
    bool Editable(const httplib::Request& req, httplib::Response& res, int64_t* location);
    PlanContext Context(int64_t location);
    nlohmann::json SourceOf(int64_t location, uint64_t now, std::string* trouble, bool* unhealthy);
    // Commits a write and forgets the location's expanded plans; answers an error otherwise.
    bool Commit(Transaction& tx, int64_t location, httplib::Response& res);

    CalendarServer& server_;
    Options options_;
    Login login_;
    Readers readers_;
};

}  // namespace calendar_server
