// The calendar server against clients that are not the plug-in: oversized or slow requests, pages of other
// sites in a browser, clients outside the allowed networks; and database files that are not its own.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "CalendarServer.h"
#include "Database.h"
#include "platform/Clock.h"

using calendar_server::Access;
using calendar_server::CalendarServer;
using calendar_server::HttpServer;
using calendar_server::Network;

namespace {

const char kHallData[] = R"({"locations": [{"location_id": 1, "name": "Hall"}],
  "variables": [{"variable_id": 1, "location_id": 1, "name": "Mode", "var_type": 1}]})";

class GuardTest : public ::testing::Test {
protected:
    void Start(Access access = Access(), HttpServer::Limits limits = HttpServer::Limits()) {
        std::string error;
        ASSERT_TRUE(calendar.Load(kHallData, platform::LocalInstantNow(), &error)) << error;
        calendar.SetAccess(std::move(access));
        server.reset(new HttpServer(limits));
        calendar.Register(*server, nullptr);
        ASSERT_GT(port = server->bind_to_any_port("127.0.0.1"), 0);
        thread = std::thread([this] { server->listen_after_bind(); });
        while (!server->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    void TearDown() override {
        if (thread.joinable()) server->stop(), thread.join();
    }
    // A connection from the loopback address `from` (127.0.0.1 unless named); `begun`: not waited for.
    int Connect(const char* from = nullptr, bool begun = false) {
        const int sock = socket(AF_INET, SOCK_STREAM, 0);
        if (from) {
            sockaddr_in source{};
            source.sin_family = AF_INET;
            inet_pton(AF_INET, from, &source.sin_addr);
            EXPECT_EQ(0, bind(sock, reinterpret_cast<sockaddr*>(&source), sizeof source));
        }
        if (begun) fcntl(sock, F_SETFL, O_NONBLOCK);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const int connected = connect(sock, reinterpret_cast<sockaddr*>(&address), sizeof address);
        if (!begun) {
            EXPECT_EQ(0, connected);
        }
        return sock;
    }
    // The status of a request sent exactly as written (a Host line is added unless it has one).
    int Raw(const std::string& method, const std::string& target, std::string headers = "",
            const std::string& body = "") {
        if (headers.find("Host:") == std::string::npos)
            headers += "Host: 127.0.0.1:" + std::to_string(port) + "\r\n";
        if (!body.empty()) headers += "Content-Length: " + std::to_string(body.size()) + "\r\n";
        const std::string request = method + " " + target + " HTTP/1.1\r\n" + headers + "\r\n" + body;
        const int sock = Connect();
        send(sock, request.data(), request.size(), MSG_NOSIGNAL);
        char answer[64] = "";
        const ssize_t n = recv(sock, answer, sizeof answer - 1, 0);
        close(sock);
        return n > 12 ? std::atoi(answer + 9) : -1;
    }

    CalendarServer calendar;
    std::unique_ptr<HttpServer> server;
    std::thread thread;
    int port = 0;
};

// Whether the server ends the connection within `ms`.
bool ClosedWithin(int sock, int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    char buffer[512];
    for (pollfd p{sock, POLLIN, 0}; std::chrono::steady_clock::now() < end;) {
        if (poll(&p, 1, 20) > 0 && recv(sock, buffer, sizeof buffer, 0) <= 0) return true;
    }
    return false;
}

}  // namespace

TEST_F(GuardTest, WindowsBeyond400DaysBodiesBeyond1MiBAndEndlessHeadsAreRefused) {
    Start();
    const std::string actions = "/apiv1/calendar/1/actions?start=2025-01-01T00:00:00&end=";
    EXPECT_EQ(200, Raw("GET", actions + "2026-02-04T23:59:59"));
    EXPECT_EQ(400, Raw("GET", actions + "2026-02-05T00:00:00"));
    EXPECT_EQ(400, Raw("GET", "/apiv1/calendar/1/actions?start=1601-01-01T00:00:00&end=9999-12-31T23:59:59"));
    // Refused from its length alone, before the body is read.
    EXPECT_EQ(413, Raw("POST", "/apiv1/variable", "Content-Length: 2097152\r\n"));
    // A head that never ends is cut off once it is larger than any request may be.
    const int sock = Connect();
    std::string lines = "GET / HTTP/1.1\r\n";
    for (int i = 0; i < 1 << 17; ++i) lines += "X-Pad: 0123456789\r\n";
    send(sock, lines.data(), lines.size(), MSG_NOSIGNAL);
    EXPECT_TRUE(ClosedWithin(sock, 2000));
    close(sock);
}

TEST_F(GuardTest, SlowClientsAreCutOffAndDoNotHoldOtherRequests) {
    HttpServer::Limits limits;
    limits.requestMs = 400;
    Start(Access(), limits);
    // Sixteen clients trickling their requests a byte at a time: each byte comes well within the
    // time a read may wait, the whole request never.
    std::vector<int> trickling(16);
    for (int& sock : trickling) sock = Connect("127.0.0.2");
    std::atomic<bool> trickle{true};
    std::thread trickler([&] {
        const std::string request = "GET /apiv1/location HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Pad: ";
        for (size_t i = 0; trickle; ++i) {
            for (int sock : trickling) send(sock, request.c_str() + i % request.size(), 1, MSG_NOSIGNAL);
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
        }
    });
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(200, Raw("GET", "/apiv1/location"));
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(300));
    for (int sock : trickling) EXPECT_TRUE(ClosedWithin(sock, 3000));
    trickle = false;
    trickler.join();
    for (int sock : trickling) close(sock);
}

TEST_F(GuardTest, RequestsOfOtherSitesPagesAreRefusedAndThePluginsOwnWritesPass) {
    Access access;
    access.hosts = {"show.example"};
    Start(access);
    const std::string self = "127.0.0.1:" + std::to_string(port);
    const std::string write = R"({"location_id":1,"name":"V","var_type":1})";
    struct Case {
        const char* method;
        std::string headers;
        int status;
    } cases[] = {
        {"GET", "Origin: http://evil.example\r\n", 403},
        {"GET", "Origin: null\r\n", 403},
        {"GET", "Origin: http://" + self + "\r\n", 200},
        {"GET", "Sec-Fetch-Site: cross-site\r\n", 403},
        {"GET", "Sec-Fetch-Site: same-origin\r\n", 200},
        {"GET", "Host: rebound.example:" + std::to_string(port) + "\r\n", 403},
        {"GET", "Host: localhost:" + std::to_string(port) + "\r\n", 200},
        {"GET", "Host: [::1]:" + std::to_string(port) + "\r\n", 200},
        {"GET", "Host: Show.Example\r\n", 200},
        {"POST", "Content-Type: text/plain\r\n", 415},
        {"POST", "Content-Type: application/x-www-form-urlencoded\r\n", 415},
        {"PUT", "Content-Type: Multipart/Form-Data; boundary=x\r\n", 415},
        // The plug-in's own write: no Origin, and its JSON type under a header of another name.
        {"POST", "Content_Type: application/json\r\n", 201},
    };
    for (const Case& c : cases) {
        const bool get = std::string(c.method) == "GET";
        EXPECT_EQ(c.status,
                  Raw(c.method, get ? "/apiv1/location" : "/apiv1/variable", c.headers, get ? "" : write))
            << c.method << " " << c.headers;
    }
    EXPECT_EQ(2u, calendar.Document()["variables"].size());
}

TEST_F(GuardTest, OnlyClientsOfTheAllowedNetworksAreServed) {
    Network network;
    for (const char* bad :
         {"", "10.0.0.0/33", "10.0.0/8", "::1/129", "host.example", "10.0.0.0/", "1.2.3.4/x"})
        EXPECT_FALSE(calendar_server::ParseNetwork(bad, &network)) << bad;
    ASSERT_TRUE(calendar_server::ParseNetwork("192.168.16.0/20", &network));
    EXPECT_TRUE(calendar_server::InNetwork(network, "192.168.31.255"));
    EXPECT_TRUE(calendar_server::InNetwork(network, "::ffff:192.168.16.1"));
    EXPECT_FALSE(calendar_server::InNetwork(network, "192.168.32.0"));
    ASSERT_TRUE(calendar_server::ParseNetwork("fd00:1::/32", &network));
    EXPECT_TRUE(calendar_server::InNetwork(network, "fd00:1:ffff::7"));
    EXPECT_FALSE(calendar_server::InNetwork(network, "fd00:2::7"));

    Access access;
    access.clients.resize(2);
    ASSERT_TRUE(calendar_server::ParseNetwork("10.0.0.0/8", &access.clients[0]));
    ASSERT_TRUE(calendar_server::ParseNetwork("::1", &access.clients[1]));
    Start(access);
    // Closed as it is accepted, without an answer.
    EXPECT_EQ(-1, Raw("GET", "/apiv1/location"));
}

TEST_F(GuardTest, BeyondLoopbackOnlyThisMachinesNamesAreAnsweredTo) {
    Access access;
    access.loopbackOnly = false;
    Start(access);
    const std::string atPort = ":" + std::to_string(port);
    // A page whose name was made to point at this server writes with its own name as Host and Origin.
    EXPECT_EQ(403, Raw("DELETE", "/apiv1/variable/1",
                       "Host: evil.example" + atPort + "\r\nOrigin: http://evil.example" + atPort + "\r\n"));
    EXPECT_EQ(1u, calendar.Document()["variables"].size());
    char name[256] = "";
    ASSERT_EQ(0, gethostname(name, sizeof name - 1));
    std::string host = name;
    for (char& c : host) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(200, Raw("GET", "/apiv1/location", "Host: " + host + atPort + "\r\n"));
}

TEST_F(GuardTest, AClientOfARefusedNetworkHoldingHundredsOfSocketsDelaysNoOther) {
    Access access;
    access.clients.resize(1);
    ASSERT_TRUE(calendar_server::ParseNetwork("127.0.0.1", &access.clients[0]));
    Start(access);
    // Three hundred connections, begun at once and waited for until the server has taken each.
    std::vector<pollfd> idle(300);
    for (pollfd& p : idle) p = {Connect("127.0.0.2", true), POLLOUT, 0};
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (pollfd& p : idle) {
        while (poll(&p, 1, 100) == 0 && std::chrono::steady_clock::now() < end) {
        }
    }
    httplib::Client client("127.0.0.1", port);
    client.set_connection_timeout(3, 0);
    client.set_read_timeout(3, 0);
    const auto answer = client.Get("/apiv1/location");
    ASSERT_TRUE(answer);
    EXPECT_EQ(200, answer->status);
    EXPECT_TRUE(ClosedWithin(idle.back().fd, 1000));
    for (const pollfd& p : idle) close(p.fd);
}

TEST_F(GuardTest, ConnectionsBeyondAClientsShareOrTheWaitingBoundAreClosedAtOnce) {
    HttpServer::Limits limits;
    limits.threads = 2;
    limits.perClient = 2;
    limits.waiting = 2;
    Start(Access(), limits);
    // Two kept connections of one client, answered once, hold both threads.
    const std::string request = "GET /apiv1/location HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    std::vector<int> kept;
    for (int i = 0; i < 2; ++i) {
        kept.push_back(Connect("127.0.0.2"));
        send(kept.back(), request.data(), request.size(), MSG_NOSIGNAL);
        char answer[16] = "";
        ASSERT_GT(recv(kept.back(), answer, sizeof answer, 0), 0);
    }
    const int third = Connect("127.0.0.2");
    const int waiting[] = {Connect("127.0.0.3"), Connect("127.0.0.4")};
    const int beyond = Connect("127.0.0.5");
    EXPECT_TRUE(ClosedWithin(third, 1000));
    EXPECT_TRUE(ClosedWithin(beyond, 1000));
    for (int sock : waiting) EXPECT_FALSE(ClosedWithin(sock, 200));
    for (int sock : kept) close(sock);
    for (int sock : {third, waiting[0], waiting[1], beyond}) close(sock);
}

namespace {

class DatabaseFileTest : public ::testing::Test {
protected:
    void TearDown() override {
        for (const char* suffix : {"", "-wal", "-shm", "-journal", ".new"})
            std::remove((path + suffix).c_str());
    }
    void Write(const char* sql) {
        calendar_server::Database db;
        std::string error;
        ASSERT_TRUE(db.Open(path, &error) && db.Exec(sql, &error)) << error;
    }
    std::string Bytes() {
        std::stringstream s;
        s << std::ifstream(path, std::ios::binary).rdbuf();
        return s.str();
    }
    // Refused with a message naming `why`, the file left byte for byte.
    void ExpectRefusedUnchanged(const std::string& why) {
        const std::string before = Bytes();
        CalendarServer server;
        std::string error;
        EXPECT_FALSE(server.OpenDatabase(path, &error));
        EXPECT_NE(std::string::npos, error.find(why)) << error;
        EXPECT_EQ(before, Bytes());
        EXPECT_FALSE(std::ifstream(path + "-wal").good());
    }

    const std::string path = "/tmp/calendar-server-guard-" + std::to_string(getpid()) + ".db";
};

}  // namespace

TEST_F(DatabaseFileTest, FilesThatAreNotAHealthyDatabaseOfThisServerAreRefusedUnchanged) {
    std::ofstream(path).flush();
    ExpectRefusedUnchanged("is empty");
    std::ofstream(path)
        << "just some text, long enough to be taken for a database header by a careless reader";
    ExpectRefusedUnchanged("not a calendar database");

    std::remove(path.c_str());
    Write("PRAGMA journal_mode=DELETE; PRAGMA user_version=99; CREATE TABLE locations(x)");
    ExpectRefusedUnchanged("schema 99");

    std::remove(path.c_str());
    Write("CREATE TABLE mail(id INTEGER, subject TEXT)");
    ExpectRefusedUnchanged("mail");

    // A database of this server's with a page overwritten.
    std::remove(path.c_str());
    {
        CalendarServer server;
        std::string error;
        ASSERT_TRUE(server.OpenDatabase(path, &error)) << error;
    }
    EXPECT_FALSE(std::ifstream(path + ".new").good());
    Write(
        "PRAGMA journal_mode=DELETE; WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
        "WHERE i < 3000) INSERT INTO actions SELECT 1, i, 'a', 'b', 1, hex(randomblob(20)) FROM n");
    std::string bytes = Bytes();
    ASSERT_GT(bytes.size(), 8u * 4096);
    bytes.replace(5 * 4096, 4096, std::string(4096, '\x5a'));
    std::ofstream(path, std::ios::binary) << bytes;
    ExpectRefusedUnchanged("damaged");
}
