#include "ServiceSetup.h"

#include <filesystem>
#include <system_error>

namespace calendar_server {

const char kServiceName[] = "VeltranoCalendar";

namespace {

std::string Absolute(const std::string& path) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute.lexically_normal().string();
}

std::string InFolder(const std::string& folder, const char* name) {
    return (std::filesystem::path(folder) / name).string();
}

}  // namespace

bool MakeServiceSetup(const std::vector<std::string>& given, const std::string& dataFolder,
                      ServiceSetup* setup, std::string* error) {
    setup->arguments.clear();
    setup->database.clear();
    setup->log = InFolder(dataFolder, "calendar-server.log");
    for (size_t i = 0; i < given.size(); ++i) {
        const std::string& arg = given[i];
        setup->arguments.push_back(arg);
        if (i + 1 == given.size()) break;
        if (arg == "--data" || arg == "--db") {
            setup->arguments.push_back(Absolute(given[++i]));
            if (arg == "--db") setup->database = setup->arguments.back();
        } else if (arg == "--ics") {
            // N=SOURCE: a URL stays as it is, a file gets its absolute path.
            const std::string& value = given[++i];
            const size_t equals = value.find('=');
            const bool file = equals != std::string::npos && value.find("://", equals) == std::string::npos;
            setup->arguments.push_back(file ? value.substr(0, equals + 1) + Absolute(value.substr(equals + 1))
                                            : value);
        } else if (arg == "--port") {
            if (given[i + 1] == "0") return *error = "a service needs a fixed --port (not 0)", false;
        }
    }
    if (setup->database.empty()) {
        setup->database = InFolder(dataFolder, "calendar.db");
        setup->arguments.push_back("--db");
        setup->arguments.push_back(setup->database);
    }
    return true;
}

}  // namespace calendar_server
