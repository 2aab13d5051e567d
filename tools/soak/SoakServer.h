// The soak's calendar server: serves one fixed plan of actions on loopback and, at random, answers a
// request for it correctly, slowly, with garbage, with a JSON error body under status 500 or 404, with a
// cut body, with a body that never ends, or not at all. No answer that is not correct may replace the
// device's list (the error bodies read as JSON, but their status says they are no list); the plan itself
// never changes, so every correct answer is the same list.
#pragma once

#include <httplib.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace soak {

// One planned action, at a whole second of the local wall clock.
struct PlannedAction {
    int index = 0;
    uint64_t instant = 0;  // local instant (100 ns since 1601)
    bool setVariable = false;
    std::string macro;  // task name, or the variable's name
    std::string data;   // the value for a variable
};

// How an answer to the actions request is given.
enum class AnswerMode {
    kCorrect,
    kSlow,
    kGarbage,
    kError500,
    kTruncated,
    kSilent,
    kError404,
    kEndless,
    kCount
};
const char* AnswerModeName(AnswerMode mode);

// The actions answer for a plan, as the calendar server writes it.
std::string ActionsBody(const std::vector<PlannedAction>& plan);
// The "date" text of an instant: "YYYY-MM-DDThh:mm:ss".
std::string DateText(uint64_t instant);

class SoakServer {
public:
    // weights: one per AnswerMode, in order; the chance of each mode is its share of the sum.
    SoakServer(std::vector<PlannedAction> plan, std::vector<int> weights, uint32_t seed);
    ~SoakServer();
    SoakServer(const SoakServer&) = delete;
    SoakServer& operator=(const SoakServer&) = delete;

    // Binds to 127.0.0.1 on a free port and serves from its own threads; the port, 0 when binding failed.
    int Start();
    // Wakes every answer held back and ends the serving.
    void Stop();

    // Tests: the next answers take these modes in order before the random choice resumes.
    void Script(std::vector<AnswerMode> modes);
    // How long a silent answer holds the connection before giving up on it (it outlasts the client's
    // receive time-out); tests shorten it.
    void SetSilentHoldMs(uint32_t ms) { silentHoldMs_ = ms; }
    // A slow answer's pauses add up to between least and least + spread milliseconds (1 to 6 s unless set).
    void SetSlowMs(uint32_t least, uint32_t spread) {
        slowLeastMs_ = least;
        slowSpreadMs_ = spread == 0 ? 1 : spread;
    }

    // Called (from a server thread) with each answer's mode as it is given; set before Start.
    void OnAnswer(std::function<void(AnswerMode)> callback) { onAnswer_ = std::move(callback); }

    // Answers given per mode, and the local instants at which correct ones (slow ones included) were
    // handed over whole.
    std::vector<int> Counts();
    std::vector<uint64_t> CorrectAnswerTimes();
    // The local instants at which requests for the actions arrived.
    std::vector<uint64_t> RequestTimes();
    // The arrival of the latest request for the actions that was still being answered at `instant`, or had
    // been answered less than `grace` before it; 0 when there is none. A slow or silent answer holds the
    // device's worker that long.
    uint64_t ExchangeOpenAt(uint64_t instant, uint64_t grace);
    int ActionRequests();
    // The names in the variable table (location 1), sorted.
    std::vector<std::string> VariableNames();

private:
    // The mode of the next answer and the request's number.
    AnswerMode NextMode(size_t* request);
    void AnswerActions(httplib::Response& response);
    void Done(size_t request);
    void CountAnswer(AnswerMode mode, bool whole);
    // Sleeps up to ms, or less when the server stops; false when it stopped.
    bool Pause(uint32_t ms);

    std::vector<PlannedAction> plan_;
    std::string body_;
    std::vector<int> weights_;
    httplib::Server server_;
    std::thread thread_;
    int port_ = 0;
    std::atomic<uint32_t> silentHoldMs_{40000};
    std::atomic<uint32_t> slowLeastMs_{1000};
    std::atomic<uint32_t> slowSpreadMs_{5000};
    std::function<void(AnswerMode)> onAnswer_;

    std::mutex mutex_;  // guards everything below
    std::condition_variable wake_;
    bool stopping_ = false;
    std::mt19937 random_;
    std::vector<AnswerMode> script_;
    std::vector<int> counts_;
    std::vector<uint64_t> correctTimes_;
    std::vector<uint64_t> requestTimes_;
    std::vector<uint64_t> doneTimes_;  // per request: when its answer was handed over or given up; 0 open
    int actionRequests_ = 0;
    std::map<int, std::string> variables_;  // id to name
    int nextVariableId_ = 1;
};

}  // namespace soak
