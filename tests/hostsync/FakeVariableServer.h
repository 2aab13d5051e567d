// The calendar server's variable table on a loopback port: serves one location's variables, applies the
// creations, updates and deletions it receives, and records every request in arrival order. A method can
// be made to answer with another status (the table is then left alone).
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "support/LoopbackServer.h"

class FakeVariableServer {
public:
    struct Request {
        std::string method;
        std::string path;  // with the query
        std::string body;
    };

    FakeVariableServer() {
        auto& s = loopback_.server;
        s.Get("/apiv1/variable", [this](const httplib::Request& req, httplib::Response& res) {
            std::lock_guard<std::mutex> lock(mutex_);
            Note(req, "GET");
            if (Refused("GET", res)) return;
            nlohmann::json list = nlohmann::json::array();
            const int location =
                req.has_param("locationid") ? std::atoi(req.get_param_value("locationid").c_str()) : -1;
            for (const auto& v : variables_) {
                if (v.value("location_id", -1) == location) list.push_back(v);
            }
            res.set_content(nlohmann::json{{"variables", list}}.dump(), "application/json");
        });
        s.Post("/apiv1/variable", [this](const httplib::Request& req, httplib::Response& res) {
            if (beforePost) beforePost();
            std::lock_guard<std::mutex> lock(mutex_);
            Note(req, "POST");
            if (Refused("POST", res)) return;
            nlohmann::json v = nlohmann::json::parse(req.body, nullptr, false);
            v["variable_id"] = nextId_++;
            variables_.push_back(v);
            res.set_content("{}", "application/json");
        });
        s.Put("/apiv1/variable", [this](const httplib::Request& req, httplib::Response& res) {
            std::lock_guard<std::mutex> lock(mutex_);
            Note(req, "PUT");
            if (Refused("PUT", res)) return;
            nlohmann::json v = nlohmann::json::parse(req.body, nullptr, false);
            for (auto& old : variables_) {
                if (old.value("variable_id", -1) == v.value("variable_id", -2)) old = v;
            }
            res.set_content("{}", "application/json");
        });
        s.Delete(R"(/apiv1/variable/(-?\d+))", [this](const httplib::Request& req, httplib::Response& res) {
            std::lock_guard<std::mutex> lock(mutex_);
            Note(req, "DELETE");
            if (Refused("DELETE", res)) return;
            const int id = std::atoi(req.matches[1].str().c_str());
            for (auto it = variables_.begin(); it != variables_.end(); ++it) {
                if (it->value("variable_id", -1) == id) {
                    variables_.erase(it);
                    break;
                }
            }
            res.set_content("{}", "application/json");
        });
        port_ = loopback_.Start();
    }
    // The server thread stops before the table it serves goes away.
    ~FakeVariableServer() { loopback_.Stop(); }
    FakeVariableServer(const FakeVariableServer&) = delete;
    FakeVariableServer& operator=(const FakeVariableServer&) = delete;

    // Runs on the server's thread before each creation is applied; set before any request.
    std::function<void()> beforePost;

    int port() const { return port_; }
    std::wstring Url() const { return L"http://127.0.0.1:" + std::to_wstring(port_); }

    void AddVariable(int id, int location, const std::string& name, int type, const std::string& data = "") {
        std::lock_guard<std::mutex> lock(mutex_);
        nlohmann::json v{{"variable_id", id}, {"location_id", location}, {"name", name}, {"var_type", type}};
        if (type == 4) v["var_data"] = data;
        variables_.push_back(v);
    }
    // Answers `status` to every request of that method from now on.
    void Refuse(const std::string& method, int status) {
        std::lock_guard<std::mutex> lock(mutex_);
        refusals_[method] = status;
    }
    std::vector<Request> Requests() {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }
    // "METHOD path" of each request, GETs left out when `withGets` is false.
    std::vector<std::string> Lines(bool withGets = false) {
        std::vector<std::string> lines;
        for (const auto& r : Requests()) {
            if (withGets || r.method != "GET") lines.push_back(r.method + " " + r.path);
        }
        return lines;
    }
    void ClearRequests() {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.clear();
    }

private:
    void Note(const httplib::Request& req, const char* method) {
        std::string path = req.path;
        if (!req.params.empty()) {
            path += "?";
            for (const auto& p : req.params) path += p.first + "=" + p.second;
        }
        requests_.push_back({method, path, req.body});
    }
    bool Refused(const std::string& method, httplib::Response& res) {
        auto it = refusals_.find(method);
        if (it == refusals_.end()) return false;
        res.status = it->second;
        res.set_content("{\"error\":\"refused\"}", "application/json");
        return true;
    }

    LoopbackServer loopback_;
    int port_ = 0;
    std::mutex mutex_;
    std::vector<nlohmann::json> variables_;
    std::map<std::string, int> refusals_;
    std::vector<Request> requests_;
    int nextId_ = 100;
};
