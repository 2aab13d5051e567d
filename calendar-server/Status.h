// The operator's view of the server's health: each calendar source's reads (when the last succeeded, the
// last attempt's error, how old the calendar served is, the events it skipped) and which clients last read
// each location's actions.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "IcsSource.h"

namespace calendar_server {

// The clients that last read each location's actions, newest first.
class Readers {
public:
    static constexpr size_t kKept = 5;
    void Read(int64_t location, const std::string& address, uint64_t time);
    nlohmann::json List(int64_t location) const;

private:
    mutable std::mutex mutex_;
    std::map<int64_t, std::vector<std::pair<std::string, uint64_t>>> readers_;
};

// "45 s", "12 min", "33 h", "4 days".
std::string Age(uint64_t seconds);

// A calendar source's part of the status; *trouble tells what is wrong (empty when nothing), *unhealthy
// whether it has not been read within three of its periods.
nlohmann::json SourceStatus(const std::string& where, const IcsSource::Health& health, uint64_t now,
                            std::string* trouble, bool* unhealthy);

}  // namespace calendar_server
