#include "Status.h"

#include <algorithm>

#include "CalendarServer.h"
#include "platform/Clock.h"

using nlohmann::json;

namespace calendar_server {

void Readers::Read(int64_t location, const std::string& address, uint64_t time) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto& list = readers_[location];
    list.erase(std::remove_if(list.begin(), list.end(), [&](const auto& r) { return r.first == address; }),
               list.end());
    list.insert(list.begin(), {address, time});
    if (list.size() > kKept) list.resize(kKept);
}

json Readers::List(int64_t location) const {
    std::lock_guard<std::mutex> lock(mutex_);
    json list = json::array();
    auto found = readers_.find(location);
    if (found == readers_.end()) return list;
    for (const auto& r : found->second)
        list.push_back(json{{"address", r.first}, {"time", FormatLocalTime(r.second)}});
    return list;
}

std::string Age(uint64_t seconds) {
    if (seconds < 120) return std::to_string(seconds) + " s";
    if (seconds < 120 * 60) return std::to_string(seconds / 60) + " min";
    if (seconds < 48 * 3600) return std::to_string(seconds / 3600) + " h";
    return std::to_string(seconds / 86400) + " days";
}

json SourceStatus(const std::string& where, const IcsSource::Health& health, uint64_t now,
                  std::string* trouble, bool* unhealthy) {
    const bool url = where.rfind("http://", 0) == 0 || where.rfind("https://", 0) == 0;
    json source{{"kind", url ? "url" : "file"},
                {"where", where},
                {"period_minutes", health.periodMs / 60000},
                {"last_success", health.lastSuccess ? json(FormatLocalTime(health.lastSuccess)) : json()},
                {"last_attempt", health.lastAttempt ? json(FormatLocalTime(health.lastAttempt)) : json()},
                {"last_error", health.lastError.empty() ? json() : json(health.lastError)},
                {"skipped", health.skipped}};
    const uint64_t age = health.lastSuccess && now > health.lastSuccess
                             ? (now - health.lastSuccess) / platform::kTicksPerSecond
                             : 0;
    if (health.lastSuccess) source["age_seconds"] = age;
    const uint64_t period = static_cast<uint64_t>(std::max(health.periodMs, 1000)) / 1000;
    *unhealthy = !health.lastSuccess || age > 3 * period;
    trouble->clear();
    const std::string served =
        health.lastSuccess ? "serving a calendar read " + Age(age) + " ago" : "no calendar read yet";
    if (!health.lastError.empty()) {
        *trouble = "the last read failed: " + health.lastError + " (" + served + ")";
    } else if (*unhealthy) {
        *trouble =
            health.lastAttempt ? "no successful read for three periods (" + served + ")" : "not read yet";
    }
    return source;
}

}  // namespace calendar_server
