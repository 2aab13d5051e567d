// Runs the zrkhost binary against the stand-in plug-in and reads its event lines.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace zrkhost_test {

struct HostRun {
    int exitCode = -1;
    bool timedOut = false;
    std::string out, err;
    std::vector<nlohmann::json> events;  // every standard output line, parsed (null for a non-JSON line)

    // Events with that "what" (and, when given, that "name" or "call").
    std::vector<nlohmann::json> Of(const std::string& what, const std::string& name = "") const;
    // The stand-in plug-in's reports (JSON texts it writes into "LastEvent") for one action.
    std::vector<nlohmann::json> Reports(const std::string& action) const;
    // The "call" of every "result" event, in order.
    std::vector<std::string> Calls() const;
};

// A file in the test's own temporary folder, holding text; returns its path.
std::string WriteTempFile(const std::string& name, const std::string& text);

// zrkhost with args, the stand-in plug-in unless args name one, and input on standard input.
HostRun RunHost(std::vector<std::string> args, const std::string& input, bool withPlugin = true);

// The host file most tests use.
std::string StandardHostFile();

}  // namespace zrkhost_test
