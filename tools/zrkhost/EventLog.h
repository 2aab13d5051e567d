// Everything the host sees, written to standard output one event a line: a JSON object with "at" (local
// time) and "what", or with --pretty an aligned line for people. Safe to call from any thread.
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>

namespace zrkhost {

class EventLog {
public:
    EventLog(std::FILE* out, bool pretty) : out_(out), pretty_(pretty) {}

    void Task(const std::string& name, int result);
    // A host variable took a value; integers are written as numbers.
    void SetInteger(const std::string& name, int64_t value);
    void SetText(const std::string& name, const std::string& value);
    // A device status variable: a text or a time in hundredths of a second.
    void StatusText(const std::string& name, const std::string& value);
    void StatusTime(const std::string& name, int64_t hundredths);
    void Result(const std::string& call, int code);
    void Settings(const std::string& text);
    void Definition(const std::string& text);
    void Error(const std::string& message);

    // "YYYY-MM-DDThh:mm:ss.mmm" of the local wall clock.
    static std::string Now();

private:
    // fields: the event's members after "at" and "what", in order; pretty: the details column.
    void Write(const char* what, const nlohmann::ordered_json& fields, const std::string& pretty);

    std::mutex mutex_;
    std::FILE* out_;
    bool pretty_;
};

}  // namespace zrkhost
