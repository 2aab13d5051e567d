#include "ZrkhostRun.h"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/Process.h"

namespace zrkhost_test {

std::vector<nlohmann::json> HostRun::Of(const std::string& what, const std::string& name) const {
    std::vector<nlohmann::json> found;
    for (const auto& e : events) {
        if (!e.is_object() || e.value("what", "") != what) continue;
        if (!name.empty() && e.value("name", e.value("call", "")) != name) continue;
        found.push_back(e);
    }
    return found;
}

std::vector<nlohmann::json> HostRun::Reports(const std::string& action) const {
    std::vector<nlohmann::json> found;
    for (const auto& e : Of("status", "LastEvent")) {
        nlohmann::json report = nlohmann::json::parse(e.value("value", ""), nullptr, false);
        if (report.is_object() && report.value("action", "") == action) found.push_back(report);
    }
    return found;
}

std::vector<std::string> HostRun::Calls() const {
    std::vector<std::string> calls;
    for (const auto& e : Of("result")) calls.push_back(e["call"].get<std::string>());
    return calls;
}

std::string WriteTempFile(const std::string& name, const std::string& text) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string path =
        ::testing::TempDir() + "zrkhost_" + info->test_suite_name() + "_" + info->name() + "_" + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

HostRun RunHost(std::vector<std::string> args, const std::string& input, bool withPlugin) {
    if (withPlugin) args.insert(args.begin(), {"--plugin", ZRKHOST_TEST_PLUGIN});
    platform::ProcessResult p = platform::RunProcess(ZRKHOST_PATH, args, input, 20000);
    HostRun run;
    run.exitCode = p.exitCode;
    run.timedOut = p.timedOut;
    run.out = p.out;
    run.err = p.err;
    size_t start = 0;
    while (start < p.out.size()) {
        size_t end = p.out.find('\n', start);
        if (end == std::string::npos) end = p.out.size();
        run.events.push_back(nlohmann::json::parse(p.out.substr(start, end - start), nullptr, false));
        start = end + 1;
    }
    return run;
}

std::string StandardHostFile() {
    return R"({
  "tasks": ["Show A", "Show B"],
  "variables": [
    {"name": "Volume", "type": "integer", "value": 5},
    {"name": "Title", "type": "string", "value": "Opening"},
    {"name": "Mode", "type": "enum", "items": ["Day", "Night"], "value": "Night"}
  ],
  "groups": [
    {"name": "Stage", "items": ["Volume", "Mode", "Title"], "listing": ["Cue 1", "Cue 2"],
     "groups": [{"name": "Lights", "listing": ["Spot"]}]},
    {"name": "Foyer"}
  ],
  "theme": {"0": "#102030", "11": "#FFFFFF"}
})";
}

}  // namespace zrkhost_test
