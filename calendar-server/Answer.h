// How the server's handlers answer: a JSON body, and a route that turns an exception into a refusal.
#pragma once

#include <httplib.h>

#include <exception>
#include <nlohmann/json.hpp>
#include <string>

namespace calendar_server {

// `type` names the body; the HTTP library compresses a plain "application/json" body for clients that
// accept it (the page's answers name their charset, which it leaves alone).
inline void Reply(httplib::Response& res, int status, const nlohmann::json& body,
                  const char* type = "application/json") {
    res.status = status;
    // Replacing bytes that are not UTF-8 keeps a stored name from turning an answer into an exception.
    res.set_content(body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace), type);
}

// A route to an object's handler; what it lets out is answered refuse(res, 500, what).
template <class T, class Refuse>
httplib::Server::Handler Route(T* object, void (T::*handler)(const httplib::Request&, httplib::Response&),
                               Refuse refuse) {
    return [object, handler, refuse](const httplib::Request& req, httplib::Response& res) {
        try {
            (object->*handler)(req, res);
        } catch (const std::exception& e) {
            refuse(res, 500, e.what());
        }
    };
}

}  // namespace calendar_server
