#include "EventLog.h"

#include <cstdio>

#include "platform/Clock.h"

namespace zrkhost {

namespace {

// Texts from the plug-in are bytes; a stray non-UTF-8 byte must not cost the event.
std::string Dump(const nlohmann::ordered_json& j) {
    return j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::string Quoted(const std::string& text) {
    return Dump(nlohmann::ordered_json(text));
}

// A multi-line text in pretty output: each line indented under its event.
std::string Block(const std::string& text) {
    std::string out;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        out += "\n    " + text.substr(start, end - start);
        start = end + 1;
    }
    return out;
}

}  // namespace

std::string EventLog::Now() {
    platform::CalendarTime t = platform::LocalTimeNow();
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04u-%02u-%02uT%02u:%02u:%02u.%03u", unsigned(t.year),
                  unsigned(t.month), unsigned(t.day), unsigned(t.hour), unsigned(t.minute),
                  unsigned(t.second), unsigned(t.milliseconds));
    return buffer;
}

void EventLog::Write(const char* what, const nlohmann::ordered_json& fields, const std::string& pretty) {
    std::string at = Now();
    std::string line;
    if (pretty_) {
        at[10] = ' ';
        char head[80];
        std::snprintf(head, sizeof head, "%s  %-10s ", at.c_str(), what);
        line = head + pretty;
    } else {
        nlohmann::ordered_json event;
        event["at"] = at;
        event["what"] = what;
        for (auto it = fields.begin(); it != fields.end(); ++it) event[it.key()] = it.value();
        line = Dump(event);
    }
    line += '\n';
    std::lock_guard<std::mutex> lock(mutex_);
    std::fwrite(line.data(), 1, line.size(), out_);
    std::fflush(out_);
}

void EventLog::Task(const std::string& name, int result) {
    Write("task", {{"name", name}, {"result", result}}, Quoted(name) + " -> " + std::to_string(result));
}

void EventLog::SetInteger(const std::string& name, int64_t value) {
    Write("set", {{"name", name}, {"value", value}}, name + " = " + std::to_string(value));
}

void EventLog::SetText(const std::string& name, const std::string& value) {
    Write("set", {{"name", name}, {"value", value}}, name + " = " + Quoted(value));
}

void EventLog::StatusText(const std::string& name, const std::string& value) {
    Write("status", {{"name", name}, {"value", value}}, name + " = " + Quoted(value));
}

void EventLog::StatusTime(const std::string& name, int64_t hundredths) {
    // The time of day the hundredths stand for, beside the raw figure.
    int64_t h = hundredths < 0 ? -hundredths : hundredths;
    char clock[48];
    std::snprintf(clock, sizeof clock, "%s%02lld:%02lld:%02lld.%02lld", hundredths < 0 ? "-" : "",
                  static_cast<long long>(h / 360000), static_cast<long long>(h / 6000 % 60),
                  static_cast<long long>(h / 100 % 60), static_cast<long long>(h % 100));
    Write("status", {{"name", name}, {"hundredths", hundredths}},
          name + " = " + clock + " (" + std::to_string(hundredths) + ")");
}

void EventLog::Result(const std::string& call, int code) {
    Write("result", {{"call", call}, {"code", code}}, call + " -> " + std::to_string(code));
}

void EventLog::Settings(const std::string& text) {
    Write("settings", {{"text", text}}, Block(text));
}

void EventLog::Definition(const std::string& text) {
    Write("definition", {{"text", text}}, Block(text));
}

void EventLog::Error(const std::string& message) {
    Write("error", {{"message", message}}, message);
}

}  // namespace zrkhost
