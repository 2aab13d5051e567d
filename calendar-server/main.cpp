// calendar-server: serves the calendar REST interface from a database seeded with a JSON data file, and
// locations whose actions come from iCalendar files or URLs.
//
//   calendar-server [--data FILE] [--db FILE] [--ics N=SOURCE]... [--geo N=LAT,LON]... [--ics-minutes N]
//                   [--port N] [--bind ADDRESS] [--allow-from CIDR]... [--allow-host NAME]... [--persist]
//                   [--require-login]
//   calendar-server --db FILE --set-password     (reads the password from standard input)
//
//   calendar-server service install [the options above] | service uninstall     (Windows)
//
// --geo gives a calendar's location coordinates (decimal degrees) for its events that follow the sun.
// --port 0 picks a free port. The address served is printed on stdout ("http://ADDRESS:PORT"), one log line
// per request goes to stderr, and SIGINT or SIGTERM (on Windows: Ctrl+C, Ctrl+Break, closing the console, a
// service stop) stop the server cleanly. As a service it logs to a rotated file in the service's data folder
// and to the event log.
#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "CalendarServer.h"
#include "PageApi.h"
#include "RotatingLog.h"
#include "ServiceSetup.h"
#include "platform/Clock.h"
#include "platform/Process.h"
#include "platform/Service.h"
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
        << "       calendar-server --db FILE --set-password   (the password on standard input)\n"
        << "       calendar-server service install [OPTIONS] | service uninstall\n";
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

struct ServerOptions {
    std::string dataPath;
    std::string bindAddress = "127.0.0.1";
    long port = 9256;
    bool persist = false;
    std::string dbPath;
    std::vector<std::pair<int64_t, std::string>> calendars;
    long minutes = 5;
    calendar_server::Access access;
    bool setPassword = false;
    calendar_server::PageApi::Options pageOptions;
    std::map<int64_t, calendar_server::Coordinates> places;
};

// 0, or the exit code after the usage message.
int ParseOptions(const std::vector<std::string>& args, ServerOptions* o) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == "--data" && hasValue) {
            o->dataPath = args[++i];
        } else if (arg == "--port" && hasValue) {
            const char* text = args[++i].c_str();
            char* end = nullptr;
            o->port = std::strtol(text, &end, 10);
            if (*text == '\0' || *end != '\0' || o->port < 0 || o->port > 65535) return Usage("bad port");
        } else if (arg == "--bind" && hasValue) {
            o->bindAddress = args[++i];
        } else if (arg == "--db" && hasValue) {
            o->dbPath = args[++i];
        } else if (arg == "--ics" && hasValue) {
            int64_t location = 0;
            std::string source;
            if (!LocationAssignment(args[++i], &location, &source) || source.empty())
                return Usage("--ics takes LOCATION=FILE or LOCATION=http://...");
            o->calendars.emplace_back(location, source);
        } else if (arg == "--geo" && hasValue) {
            int64_t location = 0;
            std::string value;
            calendar_server::Coordinates place;
            if (!LocationAssignment(args[++i], &location, &value) ||
                !calendar_server::ParseCoordinates(value, ',', &place)) {
                return Usage(
                    "--geo takes LOCATION=LATITUDE,LONGITUDE in decimal degrees, latitude within "
                    "-90..90 and longitude within -180..180");
            }
            o->places[location] = place;
        } else if (arg == "--ics-minutes" && hasValue) {
            const char* text = args[++i].c_str();
            char* end = nullptr;
            o->minutes = std::strtol(text, &end, 10);
            if (*text == '\0' || *end != '\0' || o->minutes < 1 || o->minutes > 24 * 60)
                return Usage("bad --ics-minutes");
        } else if (arg == "--allow-from" && hasValue) {
            calendar_server::Network network;
            if (!calendar_server::ParseNetwork(args[++i], &network))
                return Usage("--allow-from takes ADDRESS or ADDRESS/PREFIX (IPv4 or IPv6)");
            o->access.clients.push_back(network);
        } else if (arg == "--allow-host" && hasValue) {
            std::string name = args[++i];
            for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            o->access.hosts.push_back(name);
        } else if (arg == "--persist") {
            o->persist = true;
        } else if (arg == "--set-password") {
            o->setPassword = true;
        } else if (arg == "--require-login") {
            o->pageOptions.requireLogin = true;
        } else {
            return Usage(("unknown option " + arg).c_str());
        }
    }
    if (o->persist && o->dataPath.empty()) return Usage("--persist needs --data");
    if (o->setPassword && o->dbPath.empty())
        return Usage("--set-password needs --db (a password in memory ends with it)");
    for (const auto& p : o->places) {
        if (std::none_of(o->calendars.begin(), o->calendars.end(),
                         [&](const auto& c) { return c.first == p.first; }))
            return Usage(
                ("--geo " + std::to_string(p.first) + ": that location has no --ics calendar").c_str());
    }
    const std::string bare = o->bindAddress.size() > 2 && o->bindAddress.front() == '['
                                 ? o->bindAddress.substr(1, o->bindAddress.size() - 2)
                                 : o->bindAddress;
    o->access.loopbackOnly = bare == "localhost" || calendar_server::IsLoopbackAddress(bare);
    return 0;
}

// Serves until a stop request; `listening` gets the address once the port is bound, `failure` the reason
// the server could not run.
int Serve(const ServerOptions& o, std::ostream& log, const std::function<void(const std::string&)>& listening,
          std::string* failure) {
    auto fail = [&](const std::string& message) {
        log << "calendar-server: " << message << std::endl;
        *failure = message;
        return 1;
    };
    if (!o.access.loopbackOnly && o.access.clients.empty()) {
        log << "calendar-server: warning: listening on " << o.bindAddress
            << " without --allow-from: anyone who reaches this machine can change the variables\n";
    }

    // Stop requests are taken by one waiting thread, never by a handler inside the server's threads (the
    // calendar readers included, so this comes before any thread starts).
    platform::CatchStopRequests();

    calendar_server::CalendarServer calendar;
    std::string error;
    if (!o.dbPath.empty() && !calendar.OpenDatabase(o.dbPath, &error)) return fail(error);
    if (o.setPassword) {
        // One line; its line end is not part of the password.
        std::string password;
        std::getline(std::cin, password);
        if (!password.empty() && password.back() == '\r') password.pop_back();
        if (!calendar_server::PageApi::SetPassword(calendar, password, &error)) return fail(error);
        log << "calendar-server: the password of the plan page is set in " << o.dbPath << "\n";
        return 0;
    }
    const uint64_t start = platform::LocalInstantNow();
    bool loaded = true;
    if (!o.dataPath.empty()) {
        loaded = calendar.LoadFile(o.dataPath, start, &error);
        if (loaded && !calendar.seeded()) {
            log << "calendar-server: " << o.dbPath << " already holds a calendar; " << o.dataPath
                << " seeds only a new database\n";
        }
    } else if (o.dbPath.empty() && o.calendars.empty()) {
        loaded = calendar.Load(kDemoData, start, &error);
    }
    if (!loaded) return fail(error);
    if (o.persist) calendar.SetPersistPath(o.dataPath);
    calendar_server::IcsSource::Options options;
    options.rereadMs = static_cast<int>(o.minutes * 60 * 1000);
    for (const auto& c : o.calendars) {
        auto place = o.places.find(c.first);
        options.place.reset();
        if (place != o.places.end()) options.place = place->second;
        if (!calendar.AddIcsSource(c.first, c.second, options, &error)) return fail(error);
    }
    // A calendar read at start is served from the first request on; one that hangs delays the start by
    // a few seconds at most, and comes in later.
    calendar.StartSources(5000);

    calendar_server::HttpServer server;
    calendar.SetAccess(o.access);
    calendar.Register(server, &log);
    calendar_server::PageApi page(calendar, o.pageOptions);
    page.Register(server);
    if ((o.pageOptions.requireLogin || !o.access.loopbackOnly) && !page.PasswordSet()) {
        log << "calendar-server: the plan page's writes need a login and no password is set: run "
               "calendar-server --db FILE --set-password\n";
    }
    int bound = 0;
    if (o.port == 0) {
        bound = server.bind_to_any_port(o.bindAddress);
    } else {
        bound = server.bind_to_port(o.bindAddress, static_cast<int>(o.port)) ? static_cast<int>(o.port) : -1;
    }
    if (bound <= 0) {
        return fail("cannot listen on " + o.bindAddress + ":" + std::to_string(o.port) +
                    " (another program uses the port, or the address is not this machine's)");
    }
    // An address with colons (IPv6) is bracketed, as in a URL.
    const bool bracket = o.bindAddress.find(':') != std::string::npos;
    listening("http://" + (bracket ? "[" + o.bindAddress + "]" : o.bindAddress) + ":" +
              std::to_string(bound));

    std::atomic<bool> finished{false};
    // When the stop was asked for: the process ends within its time from then, however long the listener
    // takes to close its threads.
    auto stopAsked = std::chrono::steady_clock::now();
    std::thread waiter([&] {
        platform::WaitStopRequest();
        stopAsked = std::chrono::steady_clock::now();
        // The accept loop may not run yet when the request comes; stop it once it does.
        while (!finished) {
            server.stop();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    const bool served = server.listen_after_bind();
    finished = true;
    // Wakes the waiter when the listener ended by itself (a stop request already woke it otherwise).
    platform::WakeStopWaiter();
    waiter.join();
    // The calendar readers are told to stop with the server; one busy in a library call that cannot be
    // interrupted must not keep the process alive past its stop.
    std::ostream* watchdogLog = &log;
    const auto deadline = stopAsked + std::chrono::milliseconds(1500);
    std::thread([served, watchdogLog, deadline] {
        std::this_thread::sleep_until(deadline);
        *watchdogLog << "calendar-server: stopped (a calendar reader did not end in time)" << std::endl;
        // A service tells its manager first: one that vanishes unannounced counts as crashed.
        platform::ReportServiceStopped(served ? 0 : 1);
        platform::ExitNow(served ? 0 : 1);
    }).detach();
    log << "calendar-server: stopped" << std::endl;
    if (!served) *failure = "the listener ended with an error";
    return served ? 0 : 1;
}

int ServiceExitCode(platform::ServiceResult result) {
    switch (result) {
        case platform::ServiceResult::kDone:
            return 0;
        case platform::ServiceResult::kNotSupported:
            return 2;
        case platform::ServiceResult::kNoRights:
            return 3;
        case platform::ServiceResult::kAlreadyInstalled:
        case platform::ServiceResult::kNotInstalled:
            return 4;
        case platform::ServiceResult::kFailed:
            break;
    }
    return 1;
}

int Report(const platform::ServiceOutcome& outcome) {
    (outcome.result == platform::ServiceResult::kDone ? std::cout : std::cerr)
        << "calendar-server: " << outcome.message << std::endl;
    return ServiceExitCode(outcome.result);
}

// Whether a file can be made in `folder` (made first when missing).
bool FolderWritable(const std::string& folder, std::string* error) {
    std::error_code code;
    std::filesystem::create_directories(folder, code);
    if (code) return *error = code.message(), false;
    const std::filesystem::path probe = std::filesystem::path(folder) / ".calendar-server-write-test";
    const bool written = static_cast<bool>(std::ofstream(probe) << "ok");
    std::filesystem::remove(probe, code);
    if (!written) *error = "a file cannot be written there";
    return written;
}

// Whether the server could listen on the address and port now. The probe's socket is closed again before
// this returns (the HTTP library closes a bound socket only when its listener stops), so that the service
// can take the port.
bool CanListen(const std::string& address, int port) {
    calendar_server::HttpServer probe;
    if (!probe.bind_to_port(address, port)) return false;
    std::atomic<bool> ended{false};
    std::thread listener([&] {
        probe.listen_after_bind();
        ended = true;
    });
    while (!ended) {
        probe.stop();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    listener.join();
    return true;
}

// Checks what the service will need before anything is registered, so that a refusal changes nothing.
int InstallService(const std::vector<std::string>& given) {
    const std::string folder =
        (std::filesystem::path(platform::SharedDataFolder()) / calendar_server::kServiceName).string();
    calendar_server::ServiceSetup setup;
    std::string error;
    if (!calendar_server::MakeServiceSetup(given, folder, &setup, &error)) return Usage(error.c_str());
    ServerOptions options;
    if (const int code = ParseOptions(setup.arguments, &options)) return code;
    if (!options.access.loopbackOnly && options.access.clients.empty()) {
        std::cerr << "calendar-server: warning: the service listens on " << options.bindAddress
                  << " without --allow-from: anyone who reaches this machine can change the variables\n";
    }
    const platform::ServiceOutcome check = platform::CheckServiceInstall(calendar_server::kServiceName);
    if (check.result != platform::ServiceResult::kDone) return Report(check);
    if (!CanListen(options.bindAddress, static_cast<int>(options.port))) {
        std::cerr << "calendar-server: cannot listen on " << options.bindAddress << ":" << options.port
                  << " (another program uses the port, or the address is not this machine's); nothing "
                     "was changed\n";
        return 1;
    }
    const std::string dbFolder = std::filesystem::path(setup.database).parent_path().string();
    for (const std::string& f : {folder, dbFolder}) {
        if (!FolderWritable(f, &error)) {
            std::cerr << "calendar-server: cannot write to " << f << " (" << error
                      << "); nothing was changed\n";
            return 1;
        }
    }
    platform::ServiceSpec spec;
    spec.name = calendar_server::kServiceName;
    spec.displayName = "Veltrano Calendar server";
    spec.description = "Serves the show calendar to the host's calendar device and the plan page.";
    spec.arguments = {"service", "run"};
    spec.arguments.insert(spec.arguments.end(), setup.arguments.begin(), setup.arguments.end());
    spec.writableFolder = folder;
    const platform::ServiceOutcome outcome = platform::InstallService(spec);
    const int code = Report(outcome);
    if (code == 0) {
        std::cout << "calendar-server: database " << setup.database << ", log " << setup.log << std::endl;
    } else if (outcome.result == platform::ServiceResult::kFailed) {
        std::cerr << "calendar-server: the service's log is " << setup.log << std::endl;
    }
    return code;
}

// The service manager's start: the server with its output in the rotated log, and its start, stop and
// failure in the event log.
int RunService(const std::vector<std::string>& args) {
    ServerOptions options;
    if (const int code = ParseOptions(args, &options)) return code;
    const std::string folder =
        (std::filesystem::path(platform::SharedDataFolder()) / calendar_server::kServiceName).string();
    int exitCode = 1;
    const bool ran = platform::RunAsService(
        calendar_server::kServiceName,
        [&] {
            std::error_code ignored;
            std::filesystem::create_directories(folder, ignored);
            // Kept to the process's end: the stop's watchdog may still write to it after the server ended.
            const std::string logPath = (std::filesystem::path(folder) / "calendar-server.log").string();
            auto* file = new calendar_server::RotatingLog(logPath, 10u << 20);
            // The server runs without its log rather than not at all; the event log says so.
            if (!file->ok())
                platform::ReportServiceEvent(calendar_server::kServiceName, platform::ServiceEvent::kFailed,
                                             "calendar-server: cannot write its log " + logPath);
            auto* logStream = new std::ostream(file);
            std::ostream& log = *logStream;
            // Whatever the server's parts write to the standard streams goes to the log as well.
            std::cerr.rdbuf(file);
            std::cout.rdbuf(file);
            std::string failure;
            const int code = Serve(
                options, log,
                [&](const std::string& url) {
                    log << "calendar-server: serving " << url << " as process "
                        << platform::CurrentProcessId() << std::endl;
                    platform::ReportServiceRunning();
                    platform::ReportServiceEvent(calendar_server::kServiceName,
                                                 platform::ServiceEvent::kStarted,
                                                 "calendar-server: serving " + url);
                },
                &failure);
            if (code == 0) {
                platform::ReportServiceEvent(calendar_server::kServiceName, platform::ServiceEvent::kStopped,
                                             "calendar-server: stopped");
            } else {
                platform::ReportServiceEvent(calendar_server::kServiceName, platform::ServiceEvent::kFailed,
                                             "calendar-server: " + failure);
            }
            return code;
        },
        &exitCode);
    if (!ran) {
        std::cerr << "calendar-server: \"service run\" is how the service manager starts the server; from a "
                     "console run calendar-server with its options alone\n";
        return 2;
    }
    return exitCode;
}

int ServiceCommand(const std::vector<std::string>& args) {
    const std::string verb = args.empty() ? "" : args[0];
    const std::vector<std::string> rest(args.begin() + (args.empty() ? 0 : 1), args.end());
    if (verb != "install" && verb != "uninstall" && verb != "run")
        return Usage("service takes install [OPTIONS] or uninstall");
    // Where there is no service manager, the check answers why.
    if (!platform::ServicesSupported())
        return Report(platform::CheckServiceInstall(calendar_server::kServiceName));
    if (verb == "install") return InstallService(rest);
    if (verb == "run") return RunService(rest);
    if (!rest.empty()) return Usage("service uninstall takes no options");
    return Report(platform::UninstallService(calendar_server::kServiceName));
}

}  // namespace

int main(int argc, char** argv) {
    // The address line goes out as "...\n" on every platform, for the programs that read it.
    platform::PrepareStandardStreams();
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && args[0] == "service") return ServiceCommand({args.begin() + 1, args.end()});
    ServerOptions options;
    if (const int code = ParseOptions(args, &options)) return code;
    std::string failure;
    return Serve(
        options, std::cerr, [](const std::string& url) { std::cout << url << std::endl; }, &failure);
}
