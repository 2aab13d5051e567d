// The calendar-server program itself: options, the port it reports, persistence (the data file, the
// database across restarts and kills) and a clean stop on signals.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "Database.h"
#include "calendar/MCalendarStore.h"
#include "server/MCalendarRESTClient.h"
#include "support/LoopbackServer.h"

extern char** environ;

namespace {

// One run of the program with its stdout and stderr on pipes.
class Program {
public:
    // This build's program, or another one (the Windows server) run through a launcher (the one that runs
    // it under Wine): ZRK_CALENDAR_SERVER_PROGRAM, ZRK_CALENDAR_SERVER_LAUNCHER. `input`, when given, is
    // the whole of its standard input.
    explicit Program(std::vector<std::string> args, const char* input = nullptr) {
        const char* other = std::getenv("ZRK_CALENDAR_SERVER_PROGRAM");
        const char* launcher = std::getenv("ZRK_CALENDAR_SERVER_LAUNCHER");
        args.insert(args.begin(), other && *other ? other : CALENDAR_SERVER_PROGRAM);
        launched_ = launcher && *launcher;
        if (launched_) args.insert(args.begin(), launcher);
        args_ = std::move(args);
        hasInput_ = input != nullptr;
        if (input) input_ = input;
        Spawn();
    }
    ~Program() {
        if (pid_ > 0 && status_ < 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) close(out_);
        if (err_ >= 0) close(err_);
    }

    // The first line on stdout, waiting at most `ms` (by default DefaultMs()).
    std::string FirstLine(int ms = 0) {
        if (ms == 0) ms = DefaultMs();
        std::string line = std::move(heldOut_);
        heldOut_.clear();
        if (line == "\n") return "";
        char c;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < end) {
            pollfd p{out_, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0) continue;
            if (read(out_, &c, 1) != 1 || c == '\n') break;
            line += c;
        }
        return line;
    }
    // Exit status after waiting at most `ms` (by default DefaultMs()); -1 when still running.
    int Wait(int ms = 0) {
        if (ms == 0) ms = DefaultMs();
        if (pid_ <= 0) return -1;  // never started: waitpid(-1) would take any child's status
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (status_ < 0 && std::chrono::steady_clock::now() < end) {
            int raw = 0;
            if (waitpid(pid_, &raw, WNOHANG) == pid_)
                status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            // The server says why whenever it ends with an error; Wine has now and then ended with 1 and not
            // a word without starting it at all. Such a launch is said and made once more.
            if (status_ == 1 && launched_ && !relaunched_ && Silent()) {
                std::fprintf(stderr,
                             "the launcher ended with 1 without a word: starting the program again\n");
                relaunched_ = true;
                close(out_);
                close(err_);
                status_ = -1;
                Spawn();
            }
        }
        return status_;
    }
    std::string Errors() {
        std::string all = std::move(heldErrors_);
        heldErrors_.clear();
        char buffer[4096];
        pollfd p{err_, POLLIN, 0};
        while (poll(&p, 1, 100) > 0) {
            const ssize_t n = read(err_, buffer, sizeof buffer);
            if (n <= 0) break;
            all.append(buffer, static_cast<size_t>(n));
        }
        return all;
    }
    // A Windows program has no SIGTERM: its stop request is a console event, which Wine raises on SIGINT.
    void Signal(int signal) {
        if (pid_ > 0) kill(pid_, launched_ && signal == SIGTERM ? SIGINT : signal);  // kill(-1) signals all
    }
    bool started() const { return pid_ > 0; }

private:
    void Spawn() {
        pid_ = -1;
        int out[2], err[2], in[2] = {-1, -1};
        if (pipe(out) != 0 || pipe(err) != 0 || (hasInput_ && pipe(in) != 0)) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (hasInput_) {
            posix_spawn_file_actions_adddup2(&actions, in[0], 0);
            posix_spawn_file_actions_addclose(&actions, in[1]);
        }
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        posix_spawn_file_actions_addclose(&actions, err[0]);
        std::vector<std::string> args = args_;
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(&a[0]);
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        close(err[1]);
        if (hasInput_) {
            close(in[0]);
            // Short enough for the pipe's buffer: written whole before the program reads.
            if (write(in[1], input_.data(), input_.size()) < 0) pid_ = -1;
            close(in[1]);
        }
        out_ = out[0];
        err_ = err[0];
    }
    // Whether the ended program wrote nothing at all; what it did write on stderr is kept for Errors().
    bool Silent() {
        char c;
        pollfd p{out_, POLLIN, 0};
        if (poll(&p, 1, 100) > 0 && read(out_, &c, 1) == 1) return heldOut_ = std::string(1, c), false;
        heldErrors_ = Errors();
        return heldErrors_.empty();
    }

    std::vector<std::string> args_;
    std::string input_;
    bool hasInput_ = false;
    bool relaunched_ = false;
    std::string heldErrors_;
    std::string heldOut_;  // read from stdout by Silent(), given back by FirstLine()
    pid_t pid_ = -1;
    bool launched_ = false;
    // A limit, not an expectation: a Windows program's start under Wine takes seconds on a busy machine.
    int DefaultMs() const { return launched_ ? 20000 : 5000; }
    int status_ = -1;
    int out_ = -1;
    int err_ = -1;
};

int PortOf(const std::string& line) {
    const size_t colon = line.rfind(':');
    return colon == std::string::npos ? 0 : std::atoi(line.c_str() + colon + 1);
}

}  // namespace

TEST(CalendarServerProgram, ReportsItsPortPersistsAndStopsCleanlyOnSigterm) {
    ScopedEnv noProxy("http_proxy", nullptr);
    char dir[] = "/tmp/calendar-server-program-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(dir));
    const std::string path = std::string(dir) + "/data.json";
    std::ofstream(path) << R"({"locations": [{"location_id": 3, "name": "Stage"}],
                               "actions": [{"location_id": 3, "name": "Go", "macro": "Show", "date": "+90s",
                                            "macro_action": 1}]})";
    Program program({"--data", path, "--port", "0", "--persist"});
    ASSERT_TRUE(program.started());
    const std::string line = program.FirstLine();
    const int port = PortOf(line);
    ASSERT_GT(port, 0) << line;
    EXPECT_EQ("http://127.0.0.1:" + std::to_string(port), line);

    MCalendarStore store;
    MCalendarRESTClient client(&store);
    client.SetServerURL(L"127.0.0.1:" + std::to_wstring(port));
    ASSERT_TRUE(client.RefreshLocations());
    EXPECT_EQ("Stage", store.GetLocations()->GetFirst()->name);
    MCalendarVariable show(0, 2, "Show");
    EXPECT_TRUE(client.CreateVariable(3, &show));
    client.RefreshActions(3, 2);
    ASSERT_EQ(1, store.GetEvents()->GetCount());
    EXPECT_EQ("Go", store.GetEvents()->GetFirst()->name);

    program.Signal(SIGTERM);
    EXPECT_EQ(0, program.Wait());
    const std::string log = program.Errors();
    EXPECT_NE(std::string::npos, log.find("127.0.0.1 POST /apiv1/variable 201")) << log;
    EXPECT_NE(std::string::npos, log.find("127.0.0.1 GET /apiv1/location 200")) << log;

    std::stringstream written;
    written << std::ifstream(path).rdbuf();
    EXPECT_NE(std::string::npos, written.str().find("\"Show\"")) << written.str();
    std::remove(path.c_str());
    rmdir(dir);
}

// The password is hashed with libsodium, which the Windows build links in on its own.
TEST(CalendarServerProgram, ASetPasswordLogsInAndAWrongOneIsRefused) {
    ScopedEnv noProxy("http_proxy", nullptr);
    char dir[] = "/tmp/calendar-server-password-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(dir));
    const std::string db = std::string(dir) + "/plan.db";
    Program set({"--db", db, "--set-password"}, "stage door 7\n");
    ASSERT_TRUE(set.started());
    ASSERT_EQ(0, set.Wait(20000)) << set.Errors();

    Program server({"--db", db, "--port", "0"});
    const int port = PortOf(server.FirstLine(20000));
    ASSERT_GT(port, 0) << server.Errors();
    httplib::Client http("127.0.0.1", port);
    http.set_read_timeout(20, 0);
    auto login = [&](const char* password) {
        const httplib::Result res =
            http.Post("/apiv1/login", nlohmann::json{{"password", password}}.dump(), "application/json");
        return res ? res->status : -1;
    };
    EXPECT_EQ(401, login("stage door 8"));
    EXPECT_EQ(200, login("stage door 7"));
    server.Signal(SIGTERM);
    EXPECT_EQ(0, server.Wait(20000));
    for (const char* suffix : {"", "-wal", "-shm"}) std::remove((db + suffix).c_str());
    rmdir(dir);
}

TEST(CalendarServerProgram, SigintStopsTheDemoServer) {
    Program program({"--port", "0", "--bind", "127.0.0.1"});
    ASSERT_GT(PortOf(program.FirstLine()), 0);
    program.Signal(SIGINT);
    EXPECT_EQ(0, program.Wait());
}

TEST(CalendarServerProgram, BadOptionsAndDataEndWithAnError) {
    for (std::vector<std::string> args : std::vector<std::vector<std::string>>{{"--port", "70000"},
                                                                               {"--port", "12x"},
                                                                               {"--bogus"},
                                                                               {"--persist"},
                                                                               {"--data"},
                                                                               {"--ics", "1"},
                                                                               {"--ics", "a=plan.ics"},
                                                                               {"--ics", "1="},
                                                                               {"--ics-minutes", "0"}}) {
        Program program(args);
        EXPECT_EQ(2, program.Wait()) << args[0];
    }
    // Coordinates out of range or not two numbers, and coordinates for a location without a calendar.
    for (const auto& geo : std::vector<std::pair<const char*, const char*>>{{"1=90.1,0", "--geo takes"},
                                                                            {"1=0,-181", "--geo takes"},
                                                                            {"1=52.5", "--geo takes"},
                                                                            {"1=north,east", "--geo takes"},
                                                                            {"2=52.5,13.4", "no --ics"}}) {
        Program program({"--ics", "1=plan.ics", "--geo", geo.first, "--port", "0"});
        EXPECT_EQ(2, program.Wait()) << geo.first;
        EXPECT_NE(std::string::npos, program.Errors().find(geo.second)) << geo.first;
    }
    Program missing({"--data", "/nonexistent/data.json", "--port", "0"});
    EXPECT_EQ(1, missing.Wait());
    EXPECT_NE(std::string::npos, missing.Errors().find("cannot read"));
}

TEST(CalendarServerProgram, APortAnotherServerListensOnIsRefused) {
    Program first({"--port", "0"});
    const int port = PortOf(first.FirstLine());
    ASSERT_GT(port, 0);
    Program second({"--port", std::to_string(port)});
    EXPECT_EQ(1, second.Wait());
    EXPECT_NE(std::string::npos, second.Errors().find("cannot listen on 127.0.0.1:" + std::to_string(port)));
    first.Signal(SIGTERM);
    EXPECT_EQ(0, first.Wait());
}

TEST(CalendarServerProgram, ServiceCommandsSayTheyAreNotSupportedHere) {
    // The Windows program has them (their own tests run it as a service).
    const char* other = std::getenv("ZRK_CALENDAR_SERVER_PROGRAM");
    if (other && *other) GTEST_SKIP() << "service commands are this system's own";
    for (const char* verb : {"install", "uninstall"}) {
        Program program({"service", verb});
        EXPECT_EQ(2, program.Wait()) << verb;
        EXPECT_NE(std::string::npos, program.Errors().find("not supported on this system")) << verb;
    }
}

TEST(CalendarServerProgram, ListeningBeyondLoopbackWithoutAllowFromWarns) {
    // A documentation address that this machine does not have: the listen fails after the warning.
    Program open({"--bind", "192.0.2.1", "--port", "0"});
    EXPECT_EQ(1, open.Wait());
    EXPECT_NE(std::string::npos, open.Errors().find("without --allow-from"));
    Program limited({"--bind", "192.0.2.1", "--port", "0", "--allow-from", "192.0.2.0/24"});
    EXPECT_EQ(1, limited.Wait());
    EXPECT_EQ(std::string::npos, limited.Errors().find("warning"));
    Program bad({"--allow-from", "10.1.2.3/33"});
    EXPECT_EQ(2, bad.Wait()) << bad.Errors();
}

namespace {

std::string TempDir() {
    char dir[] = "/tmp/calendar-server-db-XXXXXX";
    return mkdtemp(dir) ? dir : "";
}

void RemoveDir(const std::string& dir) {
    for (const char* name : {"/calendar.db", "/calendar.db-wal", "/calendar.db-shm", "/data.json"}) {
        std::remove((dir + name).c_str());
    }
    rmdir(dir.c_str());
}

const char kOneLocation[] = R"({"locations": [{"location_id": 3, "name": "Stage"}]})";

}  // namespace

TEST(CalendarServerProgram, VariablesWrittenThroughRestSurviveARestartWithADatabase) {
    ScopedEnv noProxy("http_proxy", nullptr);
    const std::string dir = TempDir();
    ASSERT_FALSE(dir.empty());
    std::ofstream(dir + "/data.json") << kOneLocation;
    {
        Program first({"--db", dir + "/calendar.db", "--data", dir + "/data.json", "--port", "0"});
        httplib::Client http("127.0.0.1", PortOf(first.FirstLine()));
        auto res =
            http.Post("/apiv1/variable", R"({"location_id":3,"name":"Show","var_type":4,"var_data":"A,B"})",
                      "application/json");
        ASSERT_TRUE(res);
        ASSERT_EQ(201, res->status);
        first.Signal(SIGTERM);
        ASSERT_EQ(0, first.Wait());
    }
    // The data file is not read again into a database that holds a calendar: the variable stays.
    Program second({"--db", dir + "/calendar.db", "--data", dir + "/data.json", "--port", "0"});
    httplib::Client http("127.0.0.1", PortOf(second.FirstLine()));
    auto res = http.Get("/apiv1/variable?locationid=3");
    ASSERT_TRUE(res);
    EXPECT_EQ(nlohmann::json::parse(R"({"variables": [{"variable_id": 1, "location_id": 3, "name": "Show",
                                                        "var_type": 4, "var_data": "A,B"}]})"),
              nlohmann::json::parse(res->body));
    second.Signal(SIGTERM);
    EXPECT_EQ(0, second.Wait());
    EXPECT_NE(std::string::npos, second.Errors().find("seeds only a new database"));
    RemoveDir(dir);
}

TEST(CalendarServerProgram, AServerKilledWhileWritingLeavesADatabaseWithEveryAnsweredWrite) {
    ScopedEnv noProxy("http_proxy", nullptr);
    const std::string dir = TempDir();
    ASSERT_FALSE(dir.empty());
    std::ofstream(dir + "/data.json") << kOneLocation;
    std::vector<int64_t> answered;
    std::atomic<size_t> count{0};
    std::atomic<bool> writing{true};
    {
        Program server({"--db", dir + "/calendar.db", "--data", dir + "/data.json", "--port", "0"});
        const int port = PortOf(server.FirstLine());
        std::thread writer([&] {
            httplib::Client http("127.0.0.1", port);
            for (int i = 0; writing; ++i) {
                const std::string body =
                    R"({"location_id":3,"var_type":2,"name":"v)" + std::to_string(i) + R"("})";
                auto res = http.Post("/apiv1/variable", body, "application/json");
                if (!res) break;
                if (res->status == 201) answered.push_back(nlohmann::json::parse(res->body)["variable_id"]);
                count = answered.size();
            }
        });
        // Killed while the writes go on, after a few have been answered.
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (count < 10 && std::chrono::steady_clock::now() < end) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        server.Signal(SIGKILL);
        server.Wait();
        writing = false;
        writer.join();
    }
    ASSERT_GE(answered.size(), 10u);

    Program restarted({"--db", dir + "/calendar.db", "--port", "0"});
    httplib::Client http("127.0.0.1", PortOf(restarted.FirstLine()));
    auto res = http.Get("/apiv1/variable?locationid=3");
    ASSERT_TRUE(res);
    ASSERT_EQ(200, res->status) << res->body;
    std::vector<int64_t> stored;
    const nlohmann::json answer = nlohmann::json::parse(res->body);
    for (const auto& v : answer["variables"]) stored.push_back(v["variable_id"]);
    // Every answered write is there; at most the one in flight at the kill may be there too.
    ASSERT_GE(stored.size(), answered.size());
    EXPECT_LE(stored.size(), answered.size() + 1);
    EXPECT_TRUE(std::equal(answered.begin(), answered.end(), stored.begin()));
    restarted.Signal(SIGTERM);
    EXPECT_EQ(0, restarted.Wait());

    calendar_server::Database db;
    std::string error;
    ASSERT_TRUE(db.Open(dir + "/calendar.db", &error)) << error;
    calendar_server::Statement check(db.handle(), "PRAGMA integrity_check");
    ASSERT_TRUE(check.Step());
    EXPECT_EQ("ok", check.Text(0));
    RemoveDir(dir);
}

TEST(CalendarServerProgram, AHostileCalendarNeitherHoldsUpAnotherNorTheStop) {
    ScopedEnv noProxy("http_proxy", nullptr);
    const std::string dir = TempDir();
    ASSERT_FALSE(dir.empty());
    // Each rule never matches and costs the library about half a second per window: a read of minutes.
    std::string hostile = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\n";
    for (int i = 0; i < 300; ++i) {
        hostile += "BEGIN:VEVENT\r\nUID:" + std::to_string(i) +
                   "\r\nSUMMARY:Never\r\nDTSTART:20250101T000000\r\n"
                   "RRULE:FREQ=MINUTELY;BYMONTH=2;BYMONTHDAY=30\r\nEND:VEVENT\r\n";
    }
    std::ofstream(dir + "/hostile.ics") << hostile << "END:VCALENDAR\r\n";
    std::ofstream(dir + "/good.ics")
        << "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nBEGIN:VEVENT\r\nUID:g\r\nSUMMARY:Go\r\n"
           "DTSTART:20250303T100000\r\nRRULE:FREQ=DAILY\r\nEND:VEVENT\r\n"
           "END:VCALENDAR\r\n";
    Program program({"--ics", "1=" + dir + "/hostile.ics", "--ics", "2=" + dir + "/good.ics", "--port", "0"});
    const int port = PortOf(program.FirstLine(10000));
    ASSERT_GT(port, 0) << program.Errors();
    httplib::Client http("127.0.0.1", port);
    auto res = http.Get("/apiv1/calendar/2/actions?date=2026-01-05");
    ASSERT_TRUE(res) << httplib::to_string(res.error()) << "\n" << program.Errors();
    EXPECT_EQ(200, res->status) << res->body;
    const auto stopped = std::chrono::steady_clock::now();
    program.Signal(SIGTERM);
    EXPECT_EQ(0, program.Wait(3000));
    EXPECT_LT(std::chrono::steady_clock::now() - stopped, std::chrono::seconds(2));
    std::remove((dir + "/hostile.ics").c_str());
    std::remove((dir + "/good.ics").c_str());
    rmdir(dir.c_str());
}

// The zones a calendar names come from the current zone data, also where the system keeps none (the
// Windows server reads the zone data shipped beside it): each event is at noon in its zone, and the server,
// whose local time is UTC here, answers each at its offset of today's rules (Mexico City without daylight
// saving since 2022, Almaty at +5 since 2024, Nuuk at -2 and in summer -1 since 2023).
TEST(CalendarServerProgram, ServesZonedEventsByTheCurrentZoneData) {
    ScopedEnv utc("TZ", "UTC");
    // Some days ahead, outside March and October, so that Nuuk's offset is that of winter or of summer.
    time_t when = std::time(nullptr) + 10 * 86400;
    std::tm day{};
    gmtime_r(&when, &day);
    if (day.tm_mon == 2 || day.tm_mon == 9) {
        when += 40 * 86400;
        gmtime_r(&when, &day);
    }
    char compact[16], iso[16];
    std::strftime(compact, sizeof compact, "%Y%m%d", &day);
    std::strftime(iso, sizeof iso, "%Y-%m-%d", &day);
    const bool summer = day.tm_mon >= 3 && day.tm_mon <= 8;

    const std::string path = ::testing::TempDir() + "zones_" + std::to_string(getpid()) + ".ics";
    std::ofstream ics(path);
    ics << "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//test//zones//EN\r\n";
    for (const char* zone : {"America/Mexico_City", "Asia/Almaty", "America/Nuuk"}) {
        ics << "BEGIN:VEVENT\r\nUID:" << zone << "\r\nDTSTAMP:20250101T000000Z\r\nDTSTART;TZID=" << zone
            << ":" << compact << "T120000\r\nSUMMARY:" << zone << "\r\nEND:VEVENT\r\n";
    }
    ics << "END:VCALENDAR\r\n";
    ics.close();

    Program program({"--ics", "1=" + path, "--port", "0", "--bind", "127.0.0.1"});
    ASSERT_TRUE(program.started());
    const int port = PortOf(program.FirstLine(30000));
    ASSERT_GT(port, 0);
    httplib::Client http("127.0.0.1", port);
    http.set_read_timeout(10, 0);
    nlohmann::json answer;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < end) {
        auto res = http.Get(std::string("/apiv1/calendar/1/actions?date=") + iso);
        if (res && res->status == 200) {
            answer = nlohmann::json::parse(res->body, nullptr, false);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    std::map<std::string, std::string> times;
    if (answer.is_object() && answer["calendaractions"].is_array()) {
        for (const auto& action : answer["calendaractions"])
            times[action.value("name", "")] = action.value("date", "");
    }
    const std::string date = iso;
    EXPECT_EQ(date + "T18:00:00", times["America/Mexico_City"]) << answer.dump();
    EXPECT_EQ(date + "T07:00:00", times["Asia/Almaty"]) << answer.dump();
    EXPECT_EQ(date + (summer ? "T13:00:00" : "T14:00:00"), times["America/Nuuk"]) << answer.dump();
    std::remove(path.c_str());
}
