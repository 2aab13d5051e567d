// calendar-server: serves the calendar REST interface from a database seeded with a JSON data file, and
// locations whose actions come from iCalendar files or URLs.
//
//   calendar-server [--data FILE] [--db FILE] [--ics N=SOURCE]... [--geo N=LAT,LON]... [--ics-minutes N]
//                   [--port N] [--bind ADDRESS] [--allow-from CIDR]... [--allow-host NAME]... [--persist]
//                   [--require-login]
//   calendar-server --db FILE --set-password     (reads the password from standard input)
//
// --geo gives a calendar's location coordinates (decimal degrees) for its events that follow the sun.
// --port 0 picks a free port. The address served is printed on stdout ("http://ADDRESS:PORT"), one log line
// per request goes to stderr, and SIGINT or SIGTERM (on Windows: Ctrl+C, Ctrl+Break or closing the console)
// stop the server cleanly.
#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "CalendarServer.h"
#include "PageApi.h"
#include "platform/Clock.h"
#include "platform/Process.h"
#include "platform/StopRequest.h"

namespace {

// Served when neither a data file, a database nor a calendar is given: one location with a few actions just
// ahead, for a quick demo.
const char kDemoData[] = R"({
  "locations": [{"location_id": 1, "name": "Main hall", "comment": "demo"}],
  "variables": [{"variable_id": 1, "location_id": 1, "name": "Mode", "var_type": 4, "var_data": "Day,Night"}],
  "actions": [
    {"location_id": 1, "name": "Doors", "macro": "Open doors", "date": "+1m", "macro_action": 1},
    {"location_id": 1, "name": "Night", "macro": "Mode", "date": "+2m", "macro_action": 2, "macro_data": "Night"}
  ]
})";

int Usage(const char* message) {
    std::cerr
        << "calendar-server: " << message << "\n"
        << "usage: calendar-server [--data FILE] [--db FILE] [--ics N=SOURCE]... [--geo N=LAT,LON]...\n"
        << "                       [--ics-minutes N] [--port N] [--bind ADDRESS] [--allow-from CIDR]...\n"
        << "                       [--allow-host NAME]... [--persist] [--require-login]\n"
        << "       calendar-server --db FILE --set-password   (the password on standard input)\n";
    return 2;
}

// "N=VALUE" with a location number N; false when there is no number before the '='.
bool LocationAssignment(const std::string& assignment, int64_t* location, std::string* value) {
    const size_t equals = assignment.find('=');
    if (equals == std::string::npos || equals == 0) return false;
    const std::string number = assignment.substr(0, equals);
    char* end = nullptr;
    *location = std::strtoll(number.c_str(), &end, 10);
    *value = assignment.substr(equals + 1);
    return *end == '\0';
}

}  // namespace

int main(int argc, char** argv) {
    // The address line goes out as "...\n" on every platform, for the programs that read it.
    platform::PrepareStandardStreams();
    std::string dataPath;
    std::string bindAddress = "127.0.0.1";
    long port = 9256;
    bool persist = false;
    std::string dbPath;
    std::vector<std::pair<int64_t, std::string>> calendars;
    long minutes = 5;
    calendar_server::Access access;
    std::map<int64_t, calendar_server::Coordinates> places;
    bool setPassword = false;
    calendar_server::PageApi::Options pageOptions;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--data" && hasValue) {
            dataPath = argv[++i];
        } else if (arg == "--port" && hasValue) {
            char* end = nullptr;
            port = std::strtol(argv[++i], &end, 10);
            if (*argv[i] == '\0' || *end != '\0' || port < 0 || port > 65535) return Usage("bad port");
        } else if (arg == "--bind" && hasValue) {
            bindAddress = argv[++i];
        } else if (arg == "--db" && hasValue) {
            dbPath = argv[++i];
        } else if (arg == "--ics" && hasValue) {
            int64_t location = 0;
            std::string source;
            if (!LocationAssignment(argv[++i], &location, &source) || source.empty())
                return Usage("--ics takes LOCATION=FILE or LOCATION=http://...");
            calendars.emplace_back(location, source);
        } else if (arg == "--geo" && hasValue) {
            int64_t location = 0;
            std::string value;
            calendar_server::Coordinates place;
            if (!LocationAssignment(argv[++i], &location, &value) ||
                !calendar_server::ParseCoordinates(value, ',', &place)) {
                return Usage(
                    "--geo takes LOCATION=LATITUDE,LONGITUDE in decimal degrees, latitude within "
                    "-90..90 and longitude within -180..180");
            }
            places[location] = place;
        } else if (arg == "--ics-minutes" && hasValue) {
            char* end = nullptr;
            minutes = std::strtol(argv[++i], &end, 10);
            if (*argv[i] == '\0' || *end != '\0' || minutes < 1 || minutes > 24 * 60)
                return Usage("bad --ics-minutes");
        } else if (arg == "--allow-from" && hasValue) {
            calendar_server::Network network;
            if (!calendar_server::ParseNetwork(argv[++i], &network))
                return Usage("--allow-from takes ADDRESS or ADDRESS/PREFIX (IPv4 or IPv6)");
            access.clients.push_back(network);
        } else if (arg == "--allow-host" && hasValue) {
            std::string name = argv[++i];
            for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            access.hosts.push_back(name);
        } else if (arg == "--persist") {
            persist = true;
        } else if (arg == "--set-password") {
            setPassword = true;
        } else if (arg == "--require-login") {
            pageOptions.requireLogin = true;
        } else {
            return Usage(("unknown option " + arg).c_str());
        }
    }
    if (persist && dataPath.empty()) return Usage("--persist needs --data");
    if (setPassword && dbPath.empty())
        return Usage("--set-password needs --db (a password in memory ends with it)");
    for (const auto& p : places) {
        if (std::none_of(calendars.begin(), calendars.end(),
                         [&](const auto& c) { return c.first == p.first; }))
            return Usage(
                ("--geo " + std::to_string(p.first) + ": that location has no --ics calendar").c_str());
    }
    const std::string bare = bindAddress.size() > 2 && bindAddress.front() == '['
                                 ? bindAddress.substr(1, bindAddress.size() - 2)
                                 : bindAddress;
    access.loopbackOnly = bare == "localhost" || calendar_server::IsLoopbackAddress(bare);
    if (!access.loopbackOnly && access.clients.empty()) {
        std::cerr << "calendar-server: warning: listening on " << bindAddress
                  << " without --allow-from: anyone who reaches this machine can change the variables\n";
    }

    // Signals are taken by one waiting thread, never by a handler inside the server's threads (the calendar
    // readers included, so this comes before any thread starts).
    platform::CatchStopRequests();

    calendar_server::CalendarServer calendar;
    std::string error;
    if (!dbPath.empty() && !calendar.OpenDatabase(dbPath, &error)) {
        std::cerr << "calendar-server: " << error << "\n";
        return 1;
    }
    if (setPassword) {
        // One line; its line end is not part of the password.
        std::string password;
        std::getline(std::cin, password);
        if (!password.empty() && password.back() == '\r') password.pop_back();
        if (!calendar_server::PageApi::SetPassword(calendar, password, &error)) {
            std::cerr << "calendar-server: " << error << "\n";
            return 1;
        }
        std::cerr << "calendar-server: the password of the plan page is set in " << dbPath << "\n";
        return 0;
    }
    const uint64_t start = platform::LocalInstantNow();
    bool loaded = true;
    if (!dataPath.empty()) {
        loaded = calendar.LoadFile(dataPath, start, &error);
        if (loaded && !calendar.seeded()) {
            std::cerr << "calendar-server: " << dbPath << " already holds a calendar; " << dataPath
                      << " seeds only a new database\n";
        }
    } else if (dbPath.empty() && calendars.empty()) {
        loaded = calendar.Load(kDemoData, start, &error);
    }
    if (!loaded) {
        std::cerr << "calendar-server: " << error << "\n";
        return 1;
    }
    if (persist) calendar.SetPersistPath(dataPath);
    calendar_server::IcsSource::Options options;
    options.rereadMs = static_cast<int>(minutes * 60 * 1000);
    for (const auto& c : calendars) {
        auto place = places.find(c.first);
        options.place.reset();
        if (place != places.end()) options.place = place->second;
        if (!calendar.AddIcsSource(c.first, c.second, options, &error)) {
            std::cerr << "calendar-server: " << error << "\n";
            return 1;
        }
    }
    // A calendar read at start is served from the first request on; one that hangs delays the start by
    // a few seconds at most, and comes in later.
    calendar.StartSources(5000);

    calendar_server::HttpServer server;
    calendar.SetAccess(access);
    calendar.Register(server, &std::cerr);
    calendar_server::PageApi page(calendar, pageOptions);
    page.Register(server);
    if ((pageOptions.requireLogin || !access.loopbackOnly) && !page.PasswordSet()) {
        std::cerr << "calendar-server: the plan page's writes need a login and no password is set: run "
                     "calendar-server --db FILE --set-password\n";
    }
    int bound = 0;
    if (port == 0) {
        bound = server.bind_to_any_port(bindAddress);
    } else {
        bound = server.bind_to_port(bindAddress, static_cast<int>(port)) ? static_cast<int>(port) : -1;
    }
    if (bound <= 0) {
        std::cerr << "calendar-server: cannot listen on " << bindAddress << ":" << port << "\n";
        return 1;
    }
    // An address with colons (IPv6) is bracketed, as in a URL.
    const bool bracket = bindAddress.find(':') != std::string::npos;
    std::cout << "http://" << (bracket ? "[" + bindAddress + "]" : bindAddress) << ":" << bound << std::endl;

    std::atomic<bool> finished{false};
    std::thread waiter([&] {
        platform::WaitStopRequest();
        // The accept loop may not run yet when the signal comes; stop it once it does.
        while (!finished) {
            server.stop();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    const bool served = server.listen_after_bind();
    finished = true;
    // Wakes the waiter when the listener ended by itself.
    platform::WakeStopWaiter();
    waiter.join();
    // The calendar readers are told to stop with the server; one busy in a library call that cannot be
    // interrupted must not keep the process alive past its stop.
    std::thread([served] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        std::cerr << "calendar-server: stopped (a calendar reader did not end in time)" << std::endl;
        platform::ExitNow(served ? 0 : 1);
    }).detach();
    std::cerr << "calendar-server: stopped\n";
    return served ? 0 : 1;
}
