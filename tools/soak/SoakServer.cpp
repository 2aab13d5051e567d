#include "SoakServer.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <numeric>

#include "platform/Clock.h"

namespace soak {

const char* AnswerModeName(AnswerMode mode) {
    switch (mode) {
        case AnswerMode::kCorrect:
            return "correct";
        case AnswerMode::kSlow:
            return "slow";
        case AnswerMode::kGarbage:
            return "garbage";
        case AnswerMode::kError500:
            return "500";
        case AnswerMode::kTruncated:
            return "truncated";
        case AnswerMode::kSilent:
            return "silent";
        case AnswerMode::kError404:
            return "404";
        case AnswerMode::kEndless:
            return "endless";
        default:
            return "?";
    }
}

std::string DateText(uint64_t instant) {
    platform::CalendarTime t;
    if (!platform::InstantToCalendar(instant, &t)) return std::string();
    char text[48];  // room for any field values, so the text is never cut
    std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u", t.year, t.month, t.day, t.hour,
                  t.minute, t.second);
    return text;
}

std::string ActionsBody(const std::vector<PlannedAction>& plan) {
    nlohmann::json actions = nlohmann::json::array();
    for (const PlannedAction& a : plan) {
        actions.push_back({{"name", "soak " + std::to_string(a.index)},
                           {"macro", a.macro},
                           {"date", DateText(a.instant)},
                           {"macro_action", a.setVariable ? 2 : 1},
                           {"macro_data", a.data}});
    }
    return nlohmann::json{{"calendaractions", actions}}.dump();
}

SoakServer::SoakServer(std::vector<PlannedAction> plan, std::vector<int> weights, uint32_t seed)
    : plan_(std::move(plan)),
      body_(ActionsBody(plan_)),
      weights_(std::move(weights)),
      random_(seed),
      counts_(static_cast<size_t>(AnswerMode::kCount), 0) {
    weights_.resize(static_cast<size_t>(AnswerMode::kCount), 0);
    if (std::accumulate(weights_.begin(), weights_.end(), 0) <= 0) weights_[0] = 1;

    server_.Get(R"(/apiv1/calendar/(\d+)/actions)",
                [this](const httplib::Request&, httplib::Response& response) { AnswerActions(response); });
    // The rest of the interface answers correctly at once: the soak is about the calendar.
    server_.Get("/apiv1/location", [](const httplib::Request&, httplib::Response& response) {
        response.set_content(R"({"locations":[{"location_id":1,"name":"Soak","comment":""}]})",
                             "application/json");
    });
    // The variable table keeps what the synchronisations send, so the soak can tell which group stands.
    server_.Get("/apiv1/variable", [this](const httplib::Request&, httplib::Response& response) {
        nlohmann::json list = nlohmann::json::array();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            for (const auto& v : variables_) {
                list.push_back(
                    {{"variable_id", v.first}, {"location_id", 1}, {"name", v.second}, {"var_type", 1}});
            }
        }
        response.set_content(nlohmann::json{{"variables", list}}.dump(), "application/json");
    });
    server_.Post("/apiv1/variable", [this](const httplib::Request& request, httplib::Response& response) {
        const nlohmann::json v = nlohmann::json::parse(request.body, nullptr, false);
        if (!v.is_object() || !v.contains("name") || !v["name"].is_string()) {
            response.status = 400;
            return;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        variables_[nextVariableId_++] = v["name"].get<std::string>();
        response.set_content("{}", "application/json");
    });
    server_.Put("/apiv1/variable", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("{}", "application/json");
    });
    server_.Delete(R"(/apiv1/variable/(\d+))",
                   [this](const httplib::Request& request, httplib::Response& response) {
                       std::lock_guard<std::mutex> lock(mutex_);
                       variables_.erase(std::atoi(request.matches[1].str().c_str()));
                       response.set_content("{}", "application/json");
                   });
}

std::vector<std::string> SoakServer::VariableNames() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> names;
    for (const auto& v : variables_) names.push_back(v.second);
    std::sort(names.begin(), names.end());
    return names;
}

SoakServer::~SoakServer() {
    Stop();
}

int SoakServer::Start() {
    port_ = server_.bind_to_any_port("127.0.0.1");
    if (port_ <= 0) return port_ = 0;
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    for (int i = 0; i < 5000 && !server_.is_running(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return port_;
}

void SoakServer::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) {
        server_.stop();
        thread_.join();
    }
}

void SoakServer::Script(std::vector<AnswerMode> modes) {
    std::lock_guard<std::mutex> lock(mutex_);
    script_ = std::move(modes);
}

std::vector<int> SoakServer::Counts() {
    std::lock_guard<std::mutex> lock(mutex_);
    return counts_;
}

std::vector<uint64_t> SoakServer::CorrectAnswerTimes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return correctTimes_;
}

uint64_t SoakServer::ExchangeOpenAt(uint64_t instant, uint64_t grace) {
    std::lock_guard<std::mutex> lock(mutex_);
    uint64_t found = 0;
    for (size_t i = 0; i < requestTimes_.size(); ++i) {
        if (requestTimes_[i] > instant) continue;
        if (doneTimes_[i] == 0 || doneTimes_[i] + grace >= instant) found = std::max(found, requestTimes_[i]);
    }
    return found;
}

void SoakServer::Done(size_t request) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (request < doneTimes_.size()) doneTimes_[request] = platform::LocalInstantNow();
}

std::vector<uint64_t> SoakServer::RequestTimes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requestTimes_;
}

int SoakServer::ActionRequests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return actionRequests_;
}

AnswerMode SoakServer::NextMode(size_t* request) {
    AnswerMode mode;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++actionRequests_;
        *request = requestTimes_.size();
        requestTimes_.push_back(platform::LocalInstantNow());
        doneTimes_.push_back(0);
        if (!script_.empty()) {
            mode = script_.front();
            script_.erase(script_.begin());
        } else {
            std::discrete_distribution<int> pick(weights_.begin(), weights_.end());
            mode = static_cast<AnswerMode>(pick(random_));
        }
    }
    if (onAnswer_) onAnswer_(mode);
    return mode;
}

void SoakServer::CountAnswer(AnswerMode mode, bool whole) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++counts_[static_cast<size_t>(mode)];
    if (whole) correctTimes_.push_back(platform::LocalInstantNow());
}

bool SoakServer::Pause(uint32_t ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    return !wake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping_; });
}

void SoakServer::AnswerActions(httplib::Response& response) {
    size_t request = 0;
    AnswerMode mode = NextMode(&request);
    uint32_t a, b;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        a = random_();
        b = random_();
    }
    switch (mode) {
        case AnswerMode::kCorrect:
            response.set_content(body_, "application/json");
            // Handed over as soon as the handler returns; the small lead is within the checks' margins.
            CountAnswer(mode, true);
            Done(request);
            break;
        case AnswerMode::kSlow: {
            // The whole body in pieces, with pauses adding up to 1 to 6 seconds: slow, but well inside the
            // client's time-outs, so it is a correct answer.
            uint32_t pieces = 4 + a % 8;
            uint32_t pauseMs = (slowLeastMs_ + b % slowSpreadMs_) / pieces;
            response.set_content_provider(body_.size(), "application/json",
                                          [this, mode, pieces, pauseMs, request](size_t offset, size_t length,
                                                                                 httplib::DataSink& sink) {
                                              size_t piece = std::max<size_t>(1, body_.size() / pieces);
                                              if (!Pause(pauseMs)) return false;
                                              size_t n = std::min(piece, length);
                                              // Counted as the last piece goes out, so that a client holding
                                              // the whole list finds it counted.
                                              if (offset + n == body_.size()) {
                                                  CountAnswer(mode, true);
                                                  Done(request);
                                              }
                                              if (!sink.write(body_.data() + offset, n)) {
                                                  Done(request);  // the client is gone
                                                  return false;
                                              }
                                              return true;
                                          });
            break;
        }
        case AnswerMode::kGarbage: {
            // Bytes that no JSON reader takes: the leading '#' is never the start of a JSON text.
            std::string garbage = "#";
            std::mt19937 bytes(a);
            for (uint32_t i = 0, n = b % 4096; i < n; ++i) garbage += static_cast<char>(bytes() & 0xFF);
            response.set_content(garbage, "application/json");
            CountAnswer(mode, false);
            Done(request);
            break;
        }
        case AnswerMode::kError500:
        case AnswerMode::kError404:
            // Error bodies in JSON, as servers give them: readable, but no list.
            response.status = mode == AnswerMode::kError500 ? 500 : 404;
            response.set_content(
                mode == AnswerMode::kError500 ? R"({"error":"boom"})" : R"({"error":"unknown location"})",
                "application/json");
            CountAnswer(mode, false);
            Done(request);
            break;
        case AnswerMode::kEndless: {
            // The start of a list and then its elements for ever, as fast as the client takes them, until
            // it gives up or the server stops.
            CountAnswer(mode, false);
            std::string element = R"({"name":"endless","macro":"Endless","date":"2000-01-01T00:00:00",)"
                                  R"("macro_action":1,"macro_data":""},)";
            std::string piece;
            while (piece.size() < 64 * 1024) piece += element;
            const std::string opening = R"({"calendaractions":[)";
            response.set_chunked_content_provider(
                "application/json",
                [this, piece, opening, request, started = false](size_t, httplib::DataSink& sink) mutable {
                    bool stopping;
                    {
                        std::lock_guard<std::mutex> lock(mutex_);
                        stopping = stopping_;
                    }
                    const bool written = !stopping && (started ? sink.write(piece.data(), piece.size())
                                                               : sink.write(opening.data(), opening.size()));
                    started = true;
                    if (!written) Done(request);
                    return written;
                });
            break;
        }
        case AnswerMode::kTruncated: {
            // The full length announced, part of the body sent, then the connection closed.
            size_t cut = 1 + a % (body_.size() - 1);
            response.set_content_provider(body_.size(), "application/json",
                                          [this, cut](size_t offset, size_t, httplib::DataSink& sink) {
                                              if (offset < cut)
                                                  sink.write(body_.data() + offset, cut - offset);
                                              return false;
                                          });
            CountAnswer(mode, false);
            Done(request);
            break;
        }
        case AnswerMode::kSilent:
            // Nothing at all until the client has given up waiting.
            CountAnswer(mode, false);
            Pause(silentHoldMs_);
            Done(request);
            response.status = 503;
            break;
        default:
            break;
    }
}

}  // namespace soak
