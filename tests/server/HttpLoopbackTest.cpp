// Real exchanges through the platform backend against servers on loopback ports chosen at run time.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "platform/Sync.h"
#include "server/HttpCancel.h"
#include "server/MHttpClient.h"
#include "support/LoopbackServer.h"

using namespace platform;

namespace {

// What the server saw of one request (recorded before the answer goes out).
struct Seen {
    std::string method, path, target, body;
    httplib::Headers headers;
};

class HttpLoopback : public ::testing::Test {
protected:
    void SetUp() override {
        server.server.set_post_routing_handler([this](const httplib::Request& req, httplib::Response&) {
            std::lock_guard<std::mutex> lock(mutex);
            Seen s{req.method, req.path, req.target, req.body, req.headers};
            seen.push_back(s);
        });
        server.server.Get("/ok", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("{\"locations\":[]}", "application/json");
        });
        server.server.Get("/missing", [](const httplib::Request&, httplib::Response& res) {
            res.status = 404;
            res.set_content("<html>nothing here</html>", "text/html");
        });
        server.server.Get("/broken", [](const httplib::Request&, httplib::Response& res) {
            res.status = 500;
            res.set_content("server trouble", "text/plain");
        });
        auto echo = [](const httplib::Request& req, httplib::Response& res) {
            res.set_content(req.body, "application/octet-stream");
        };
        server.server.Post("/apiv1/variable", echo);
        server.server.Put("/apiv1/variable", echo);
        server.server.Delete(R"(/apiv1/variable/(\d+))", echo);
        ASSERT_NE(0, server.Start());
    }
    // Handlers may still run after a client gave up; they finish before the fixture's members go.
    void TearDown() override { server.Stop(); }

    MHttpClient Client(int32_t port, std::wstring serverUser = L"", std::wstring serverPassword = L"",
                       std::wstring proxyUser = L"", std::wstring host = L"127.0.0.1") {
        return MHttpClient(host, port, false, L"WinHttpClient", proxyUser, L"ppw", serverUser,
                           serverPassword);
    }
    std::vector<Seen> Seen_() {
        std::lock_guard<std::mutex> lock(mutex);
        return seen;
    }

    ScopedEnv noProxy{"http_proxy", nullptr};
    ScopedEnv noBypass{"no_proxy", nullptr};
    LoopbackServer server;
    std::mutex mutex;
    std::vector<Seen> seen;
    MHttpResponse response;
};

std::string Narrow(const std::wstring& w) {
    return std::string(w.begin(), w.end());
}

}  // namespace

TEST_F(HttpLoopback, CompletedExchangesReturnTrueWithStatusBodyAndRawHeaders) {
    MHttpClient c = Client(server.port());
    EXPECT_TRUE(c.HttpGet(L"/ok", L"", response));
    EXPECT_EQ(200u, response.status);
    EXPECT_EQ("{\"locations\":[]}", response.body);
    const std::string headers = Narrow(response.headers);
    EXPECT_EQ(0u, headers.find("HTTP/1.1 200 OK\r\n"));
    EXPECT_NE(std::string::npos, headers.find("\r\nContent-Type: application/json\r\n"));
    EXPECT_EQ(headers.size() - 4, headers.rfind("\r\n\r\n"));

    EXPECT_TRUE(c.HttpGet(L"/missing", L"", response));
    EXPECT_EQ(404u, response.status);
    EXPECT_EQ("<html>nothing here</html>", response.body);
    EXPECT_EQ(0u, Narrow(response.headers).find("HTTP/1.1 404"));

    EXPECT_TRUE(c.HttpGet(L"/broken", L"", response));
    EXPECT_EQ(500u, response.status);
    EXPECT_EQ("server trouble", response.body);
    EXPECT_EQ(L"", response.error);
}

TEST_F(HttpLoopback, OnlyTheLow16BitsOfThePortCount) {
    EXPECT_TRUE(Client(server.port() + 65536).HttpGet(L"/ok", L"", response));
    EXPECT_EQ(200u, response.status);
}

TEST_F(HttpLoopback, RequestsCarryMethodTargetAgentHeaderLineAndBodyUnchanged) {
    MHttpClient c = Client(server.port());
    const std::string json = "{\"location_id\":7,\"name\":\"Show\",\"var_type\":2,\"variable_id\":0}";
    EXPECT_TRUE(c.HttpPost(L"/apiv1/variable", L"Content_Type: application/json", json, response));
    EXPECT_EQ(json, response.body);
    EXPECT_TRUE(
        c.HttpPut(L"/apiv1/variable", L"Content_Type: application/json", "{\"\xC3\xA9\":1}", response));
    EXPECT_TRUE(c.HttpDelete(L"/apiv1/variable/12", L"", "", response));
    EXPECT_TRUE(c.HttpGet(L"/ok?date=2024-05-01", L"", response));

    const std::vector<Seen> s = Seen_();
    ASSERT_EQ(4u, s.size());
    EXPECT_EQ("POST", s[0].method);
    EXPECT_EQ("/apiv1/variable", s[0].target);
    EXPECT_EQ(json, s[0].body);
    EXPECT_EQ("PUT", s[1].method);
    EXPECT_EQ("{\"\xC3\xA9\":1}", s[1].body);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(1u, s[i].headers.count("Content_Type"));
        EXPECT_EQ("application/json", s[i].headers.find("Content_Type")->second);
        // No content type of the transport's own choosing goes out beside the caller's line.
        EXPECT_EQ(0u, s[i].headers.count("Content-Type"));
        EXPECT_EQ(std::to_string(s[i].body.size()), s[i].headers.find("Content-Length")->second);
    }
    EXPECT_EQ("DELETE", s[2].method);
    EXPECT_EQ("/apiv1/variable/12", s[2].target);
    EXPECT_EQ("", s[2].body);
    EXPECT_EQ("GET", s[3].method);
    EXPECT_EQ("/ok?date=2024-05-01", s[3].target);
    for (int i = 2; i < 4; ++i) {
        EXPECT_EQ(0u, s[i].headers.count("Content_Type"));
        EXPECT_EQ(0u, s[i].headers.count("Content-Type"));
        EXPECT_EQ(0u, s[i].headers.count("Content-Length"));
    }
    for (const Seen& one : s) {
        EXPECT_EQ("WinHttpClient", one.headers.find("User-Agent")->second);
        EXPECT_EQ(0u, one.headers.count("Accept"));
        EXPECT_EQ(0u, one.headers.count("Expect"));
    }
}

TEST_F(HttpLoopback, BodyBytesArriveExactlyBothWays) {
    std::string bytes;
    for (int i = 0; i < 300000; ++i) bytes += static_cast<char>((i * 7 + i / 256) & 0xFF);
    EXPECT_TRUE(Client(server.port()).HttpPost(L"/apiv1/variable", L"", bytes, response));
    EXPECT_EQ(bytes.size(), response.body.size());
    EXPECT_TRUE(bytes == response.body);
    ASSERT_EQ(1u, Seen_().size());
    EXPECT_TRUE(bytes == Seen_()[0].body);
}

TEST_F(HttpLoopback, RefusedConnectionFailsInSendWithStatusZeroAndBodyUnchanged) {
    LoopbackServer closed;
    const int port = closed.Start();
    ASSERT_NE(0, port);
    closed.Stop();
    response.body = "before";
    EXPECT_FALSE(Client(port).HttpGet(L"/ok", L"", response));
    EXPECT_EQ(0u, response.status);
    EXPECT_EQ(L"WinHttpSendRequest fails!", response.error);
    EXPECT_EQ("before", response.body);
}

TEST_F(HttpLoopback, HostThatCannotBeANameFailsInSend) {
    // A path left in the host is not a name that resolves.
    EXPECT_FALSE(Client(server.port(), L"", L"", L"", L"127.0.0.1/api").HttpGet(L"/ok", L"", response));
    EXPECT_EQ(L"WinHttpSendRequest fails!", response.error);
    EXPECT_EQ(0u, response.status);
    // An empty host cannot even be connected to.
    EXPECT_FALSE(Client(server.port(), L"", L"", L"", L"").HttpGet(L"/ok", L"", response));
    EXPECT_EQ(L"WinHttpConnect fails!", response.error);
}

TEST_F(HttpLoopback, BasicChallengeIsAnsweredOnceWithTheServerCredentials) {
    server.server.Get("/secret", [](const httplib::Request& req, httplib::Response& res) {
        if (req.get_header_value("Authorization") == "Basic dXNlcjpwdw==") {  // user:pw
            res.set_content("welcome", "text/plain");
            return;
        }
        res.status = 401;
        res.set_header("WWW-Authenticate", "Basic realm=\"calendar, main\"");
        res.set_content("denied", "text/plain");
    });
    EXPECT_TRUE(Client(server.port(), L"user", L"pw").HttpGet(L"/secret", L"", response));
    EXPECT_EQ(200u, response.status);
    EXPECT_EQ("welcome", response.body);
    EXPECT_EQ(2u, Seen_().size());

    // Refused credentials: the second challenge ends the exchange.
    EXPECT_TRUE(Client(server.port(), L"user", L"wrong").HttpGet(L"/secret", L"", response));
    EXPECT_EQ(401u, response.status);
    EXPECT_EQ("denied", response.body);
    EXPECT_EQ(4u, Seen_().size());
}

TEST_F(HttpLoopback, ChallengesWithUnusableSchemesEndTheExchange) {
    server.server.Get("/bearer", [](const httplib::Request&, httplib::Response& res) {
        res.status = 401;
        res.set_header("WWW-Authenticate", "Bearer realm=\"x\"");
    });
    server.server.Get("/passport", [](const httplib::Request&, httplib::Response& res) {
        res.status = 401;
        res.set_header("WWW-Authenticate", "Passport1.4 ticket=\"x\"");
    });
    server.server.Get("/bare", [](const httplib::Request&, httplib::Response& res) { res.status = 401; });
    MHttpClient c = Client(server.port());
    EXPECT_TRUE(c.HttpGet(L"/bearer", L"", response));
    EXPECT_EQ(401u, response.status);
    EXPECT_EQ(1u, Seen_().size());
#ifdef _WIN32
    // WinHTTP here does not report that scheme, so the challenge ends the exchange as a Bearer one does.
    EXPECT_TRUE(c.HttpGet(L"/passport", L"", response));
    EXPECT_EQ(401u, response.status);
#else
    // The platform here cannot do that scheme, so setting its credentials fails.
    EXPECT_FALSE(c.HttpGet(L"/passport", L"", response));
    EXPECT_EQ(L"WinHttpSetCredentials in case 401 fails!", response.error);
#endif
    EXPECT_FALSE(c.HttpGet(L"/bare", L"", response));
    EXPECT_EQ(L"WinHttpQueryAuthSchemes in case 401 fails!", response.error);
    EXPECT_EQ(3u, Seen_().size());
}

TEST_F(HttpLoopback, OfferedSchemesAreReportedAsBits) {
    server.server.Get("/many", [](const httplib::Request&, httplib::Response& res) {
        res.status = 401;
        res.set_header("WWW-Authenticate", "Digest realm=\"a, b\", nonce=\"n\", qop=\"auth\"");
        res.set_header("WWW-Authenticate", "NTLM, basic realm=x, Negotiate abc==");
        res.set_header("WWW-Authenticate", "Negotiate abc==");
    });
    IHttpBackend& b = SystemHttpBackend();
    HttpHandle s = b.Open(L"WinHttpClient");
    HttpHandle c = b.Connect(s, L"127.0.0.1", static_cast<uint16_t>(server.port()));
    HttpHandle r = b.OpenRequest(c, L"GET", L"/many", kHttpFlagBypassProxyCache);
    ASSERT_TRUE(b.SendRequest(r, L"", nullptr, 0, 0));
    ASSERT_TRUE(b.ReceiveResponse(r));
    uint32_t supported = 0, first = 0, target = 7;
    EXPECT_TRUE(b.QueryAuthSchemes(r, &supported, &first, &target));
#ifdef _WIN32
    // WinHTTP reads one challenge per header line: the list in the second line is not taken.
    EXPECT_EQ(kHttpAuthDigest | kHttpAuthNegotiate, supported);
#else
    EXPECT_EQ(kHttpAuthDigest | kHttpAuthNtlm | kHttpAuthBasic | kHttpAuthNegotiate, supported);
#endif
    EXPECT_EQ(kHttpAuthDigest, first);
    EXPECT_EQ(kHttpAuthTargetServer, target);
    EXPECT_TRUE(b.CloseHandle(r));
    EXPECT_TRUE(b.CloseHandle(c));
    EXPECT_TRUE(b.CloseHandle(s));
}

TEST_F(HttpLoopback, ProxyFromTheEnvironmentChallengesAndIsAnsweredWhenAProxyUserIsSet) {
    LoopbackServer proxy;
    std::atomic<int> proxied{0};
    std::string seenTarget;
    proxy.server.Get(".*", [&](const httplib::Request& req, httplib::Response& res) {
        ++proxied;
        seenTarget = req.target;
        if (req.get_header_value("Proxy-Authorization") == "Basic cHVzZXI6cHB3") {  // puser:ppw
            res.set_content("via proxy", "text/plain");
            return;
        }
        res.status = 407;
        res.set_header("Proxy-Authenticate", "Basic realm=\"proxy\"");
        res.set_content("proxy says no", "text/plain");
    });
    ASSERT_NE(0, proxy.Start());
    const std::string url = "http://127.0.0.1:" + std::to_string(proxy.port());
    ScopedEnv viaProxy("http_proxy", url.c_str());

    // Without a proxy user no credentials are set: two sends, the second 407 ends it. (The server is named
    // apart from the proxy: some WinHTTP versions take a proxy on the server's host for the server itself.)
    EXPECT_TRUE(Client(server.port(), L"", L"", L"", L"localhost").HttpGet(L"/ok", L"", response));
    EXPECT_EQ(407u, response.status);
    EXPECT_EQ("proxy says no", response.body);
    EXPECT_EQ(2, proxied.load());
    EXPECT_EQ("http://localhost:" + std::to_string(server.port()) + "/ok", seenTarget);

#ifdef _WIN32
    // WinHTTP sends proxy credentials only in answer to a challenge: the second send meets one more 407,
    // which the platform answers itself.
    const int handshake = 1;
#else
    const int handshake = 0;
#endif
    EXPECT_TRUE(Client(server.port(), L"", L"", L"puser", L"localhost").HttpGet(L"/ok", L"", response));
    EXPECT_EQ(200u, response.status);
    EXPECT_EQ("via proxy", response.body);
    EXPECT_EQ(4 + handshake, proxied.load());
    EXPECT_TRUE(Seen_().empty());

    // Hosts named in no_proxy are reached directly.
    ScopedEnv bypass("no_proxy", "127.0.0.1");
    EXPECT_TRUE(Client(server.port()).HttpGet(L"/ok", L"", response));
    EXPECT_EQ(200u, response.status);
    EXPECT_EQ(4 + handshake, proxied.load());
    EXPECT_EQ(1u, Seen_().size());

    // A proxy named by the test replaces the environment's, bypass list included; an empty name: none.
    HttpProxySetting named;
    named.proxy = url;
    SetHttpProxyForTesting(&named);
    EXPECT_TRUE(Client(server.port()).HttpGet(L"/ok", L"", response));
    EXPECT_EQ(407u, response.status);
    EXPECT_EQ(6 + handshake, proxied.load());
    named.proxy.clear();
    SetHttpProxyForTesting(&named);
    EXPECT_TRUE(Client(server.port()).HttpGet(L"/ok", L"", response));
    EXPECT_EQ(200u, response.status);
    EXPECT_EQ(6 + handshake, proxied.load());
    HttpProxySetting environment;
    environment.fromEnvironment = true;
    SetHttpProxyForTesting(&environment);
}

TEST_F(HttpLoopback, ServerThatNeverAnswersFailsAfterTheReceiveTimeOut) {
    platform::MEvent release(true, false);
    server.server.Get("/silent", [&](const httplib::Request&, httplib::Response& res) {
        release.Wait(10000);
        res.set_content("late", "text/plain");
    });
    HttpTimeouts shortened;
    shortened.receiveMs = 300;
    SetHttpTimeoutsForTesting(&shortened);
    const auto t0 = std::chrono::steady_clock::now();
    const bool ok = Client(server.port()).HttpGet(L"/silent", L"", response);
    const auto elapsed = std::chrono::steady_clock::now() - t0;
    SetHttpTimeoutsForTesting(nullptr);
    release.Set();
    server.Stop();  // the handler waits on a local of this test
    EXPECT_FALSE(ok);
    EXPECT_EQ(0u, response.status);
    EXPECT_EQ(L"WinHttpReceiveResponse fails!", response.error);
    EXPECT_GE(elapsed, std::chrono::milliseconds(300));
    EXPECT_LT(elapsed, std::chrono::seconds(5));
}

TEST_F(HttpLoopback, CancelFromAnotherThreadEndsTheWaitAndEveryLaterCall) {
    platform::MEvent release(true, false);
    server.server.Get("/silent", [&](const httplib::Request&, httplib::Response& res) {
        release.Wait(10000);
        res.set_content("late", "text/plain");
    });
    IHttpBackend& b = SystemHttpBackend();
    HttpHandle s = b.Open(L"WinHttpClient");
    HttpHandle c = b.Connect(s, L"127.0.0.1", static_cast<uint16_t>(server.port()));
    HttpHandle r = b.OpenRequest(c, L"GET", L"/silent", kHttpFlagBypassProxyCache);
    ASSERT_NE(nullptr, r);
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        b.CancelRequest(r);
    });
    const auto t0 = std::chrono::steady_clock::now();
    const bool ok = b.SendRequest(r, L"", nullptr, 0, 0) && b.ReceiveResponse(r);
    const uint32_t error = b.LastError();
    const auto elapsed = std::chrono::steady_clock::now() - t0;
    canceller.join();
    EXPECT_FALSE(ok);
    EXPECT_EQ(kErrorHttpOperationCancelled, error);
    EXPECT_LT(elapsed, std::chrono::seconds(3));
    uint32_t available = 0;
    EXPECT_FALSE(b.QueryDataAvailable(r, &available));
    EXPECT_EQ(kErrorHttpOperationCancelled, b.LastError());
    EXPECT_TRUE(b.CloseHandle(r));
    EXPECT_TRUE(b.CloseHandle(c));
    EXPECT_TRUE(b.CloseHandle(s));
    release.Set();
    server.Stop();  // the handler waits on a local of this test
}

TEST_F(HttpLoopback, BodyStalledHalfwayFailsAfterTheReceiveTimeOutAndKeepsWhatCame) {
    platform::MEvent release(true, false);
    server.server.Get("/stall", [&](const httplib::Request&, httplib::Response& res) {
        res.set_content_provider(1000, "text/plain", [&](size_t offset, size_t, httplib::DataSink& sink) {
            if (offset == 0) return sink.write("0123456789", 10);
            release.Wait(10000);
            return false;
        });
    });
    HttpTimeouts shortened;
    shortened.receiveMs = 300;
    SetHttpTimeoutsForTesting(&shortened);
    const bool ok = Client(server.port()).HttpGet(L"/stall", L"", response);
    SetHttpTimeoutsForTesting(nullptr);
    release.Set();
    server.Stop();  // the handler waits on a local of this test
    EXPECT_FALSE(ok);
    EXPECT_EQ(200u, response.status);
    EXPECT_EQ("0123456789", response.body);
    EXPECT_EQ(L"Error in WinHttpQueryDataAvailable: 12002", response.error);
}

TEST_F(HttpLoopback, ConnectionClosedInTheMiddleOfTheBodyFailsAndKeepsWhatArrived) {
    server.server.Get("/cut", [](const httplib::Request&, httplib::Response& res) {
        res.set_content_provider(1000, "application/json",
                                 [](size_t offset, size_t, httplib::DataSink& sink) {
                                     if (offset == 0) return sink.write("{\"locations\": [", 15);
                                     return false;  // the server gives up and drops the connection
                                 });
    });
    EXPECT_FALSE(Client(server.port()).HttpGet(L"/cut", L"", response));
    EXPECT_EQ(200u, response.status);
    EXPECT_EQ("{\"locations\": [", response.body);
    EXPECT_EQ(L"Error in WinHttpQueryDataAvailable: 12030", response.error);
}

TEST_F(HttpLoopback, RedirectsAreFollowedToTheirTarget) {
    server.server.Get("/moved",
                      [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/ok"); });
    EXPECT_TRUE(Client(server.port()).HttpGet(L"/moved", L"", response));
    EXPECT_EQ(200u, response.status);
    EXPECT_EQ("{\"locations\":[]}", response.body);
}

TEST_F(HttpLoopback, ABodyTricklingInEndsWithTheExchangesTimeLimit) {
    std::atomic<bool> stop{false};
    server.server.Get("/trickle", [&](const httplib::Request&, httplib::Response& res) {
        res.set_chunked_content_provider("text/plain", [&](size_t, httplib::DataSink& sink) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            return !stop && sink.write("x", 1);
        });
    });
    HttpTimeouts shortened;
    shortened.receiveMs = 300;  // every byte comes well within it
    shortened.exchangeMs = 600;
    SetHttpTimeoutsForTesting(&shortened);
    const auto t0 = std::chrono::steady_clock::now();
    const bool ok = Client(server.port()).HttpGet(L"/trickle", L"", response);
    const auto elapsed = std::chrono::steady_clock::now() - t0;
    SetHttpTimeoutsForTesting(nullptr);
    stop = true;
    server.Stop();  // the handler reads a local of this test
    EXPECT_FALSE(ok);
    EXPECT_EQ(L"Exchange time limit exceeded!", response.error);
    EXPECT_TRUE(response.body.empty());
    EXPECT_GE(elapsed, std::chrono::milliseconds(600));
    EXPECT_LT(elapsed, std::chrono::seconds(5));
}

TEST_F(HttpLoopback, ACancelFromAnotherThreadEndsAnExchangeTheServerHoldsAtOnce) {
    platform::MEvent arrived(true, false);
    platform::MEvent release(true, false);
    server.server.Get("/silent", [&](const httplib::Request&, httplib::Response& res) {
        arrived.Set();
        release.Wait(20000);
        res.set_content("{}", "application/json");
    });
    HttpCancel token;
    std::thread canceller([&] {
        if (arrived.Wait(10000)) token.Cancel();
    });
    const auto begin = std::chrono::steady_clock::now();
    bool ok = true;
    {
        HttpCancel::ThreadScope scope(&token);
        ok = Client(server.port()).HttpGet(L"/silent", L"", response);
    }
    const auto elapsed = std::chrono::steady_clock::now() - begin;
    canceller.join();
    release.Set();
    server.Stop();  // the handler waits on a local of this test
    EXPECT_FALSE(ok);
    EXPECT_EQ(0u, response.status);
    EXPECT_FALSE(response.error.empty());
    EXPECT_LT(elapsed, std::chrono::seconds(5));  // the server holds it for 20 s, the time-out is 30 s
}
