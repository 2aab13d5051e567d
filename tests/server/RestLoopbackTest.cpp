// The REST client over real exchanges with a loopback server: what it sends, and what it makes of answers.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>

#include "calendar/MCalendarEnumVariable.h"
#include "calendar/MCalendarStore.h"
#include "server/MCalendarRESTClient.h"
#include "support/LoopbackServer.h"

namespace {

struct Received {
    std::string method, target, body;
    httplib::Headers headers;
};

class RestLoopback : public ::testing::Test {
protected:
    void SetUp() override {
        server.server.set_post_routing_handler([this](const httplib::Request& req, httplib::Response&) {
            std::lock_guard<std::mutex> lock(mutex);
            received.push_back(Received{req.method, req.target, req.body, req.headers});
        });
        server.server.Get("/apiv1/location", [this](const httplib::Request&, httplib::Response& res) {
            std::lock_guard<std::mutex> lock(mutex);
            res.status = status;
            res.set_content(answer, status == 200 ? "application/json" : "text/html");
        });
        auto ok = [](const httplib::Request&, httplib::Response& res) {
            res.set_content("{}", "application/json");
        };
        server.server.Post("/apiv1/variable", ok);
        server.server.Put("/apiv1/variable", ok);
        server.server.Delete(R"(/apiv1/variable/\d+)", ok);
        ASSERT_NE(0, server.Start());
        client.SetServerURL(L"http://127.0.0.1:" + std::to_wstring(server.port()));
    }
    void TearDown() override { server.Stop(); }
    void Serve(int newStatus, const std::string& newAnswer) {
        std::lock_guard<std::mutex> lock(mutex);
        status = newStatus;
        answer = newAnswer;
    }
    std::vector<Received> Received_() {
        std::lock_guard<std::mutex> lock(mutex);
        return received;
    }

    ScopedEnv noProxy{"http_proxy", nullptr};
    LoopbackServer server;
    std::mutex mutex;
    int status = 200;
    std::string answer;
    std::vector<Received> received;
    MCalendarStore store;
    MCalendarRESTClient client{&store};
};

}  // namespace

TEST_F(RestLoopback, ErrorAnswersKeepTheLocationsAndEmptyAnswersEmptyThem) {
    Serve(200, R"({"locations": [{"location_id": 4, "name": "Stage", "comment": "left"}]})");
    ASSERT_TRUE(client.TestConnection());
    CalendarLocationList* list = store.GetLocations();
    ASSERT_EQ(1, list->GetCount());

    Serve(404, "<html><body><h1>Not Found</h1></body></html>");
    EXPECT_FALSE(client.RefreshLocations());
    Serve(500, R"({"error":"boom"})");
    EXPECT_FALSE(client.TestConnection());
    EXPECT_EQ(list, store.GetLocations());
    EXPECT_EQ("Stage", store.GetLocations()->GetFirst()->name);

    for (const char* empty : {R"({"locations": []})", "{}", "null"}) {
        Serve(200, R"({"locations": [{"location_id": 4}]})");
        ASSERT_TRUE(client.RefreshLocations());
        ASSERT_EQ(1, store.GetLocations()->GetCount());
        Serve(200, empty);
        EXPECT_TRUE(client.RefreshLocations()) << empty;
        EXPECT_EQ(0, store.GetLocations()->GetCount()) << empty;
    }
}

TEST_F(RestLoopback, AHostThatRefusesGivesFalseAndKeepsTheLocations) {
    Serve(200, R"({"locations": [{"location_id": 4}]})");
    ASSERT_TRUE(client.RefreshLocations());
    CalendarLocationList* list = store.GetLocations();
    const int port = server.port();
    server.Stop();
    client.SetServerURL(L"127.0.0.1:" + std::to_wstring(port));
    EXPECT_FALSE(client.TestConnection());
    EXPECT_EQ(list, store.GetLocations());
}

TEST_F(RestLoopback, PostPutAndDeleteSendExactlyTheirBodiesAndHeaderLine) {
    MCalendarVariable show(0, 2, "Show");
    EXPECT_TRUE(client.CreateVariable(7, &show));
    MCalendarEnumVariable mode(12, "Mode");
    mode.values = {"Day", "Night"};
    EXPECT_TRUE(client.UpdateVariable(7, &mode));
    EXPECT_TRUE(client.DeleteVariable(7, 12));

    const std::vector<Received> r = Received_();
    ASSERT_EQ(3u, r.size());
    EXPECT_EQ("POST", r[0].method);
    EXPECT_EQ("/apiv1/variable", r[0].target);
    EXPECT_EQ(R"({"location_id":7,"name":"Show","var_type":2,"variable_id":0})", r[0].body);
    EXPECT_EQ("PUT", r[1].method);
    EXPECT_EQ("/apiv1/variable", r[1].target);
    EXPECT_EQ(R"({"location_id":7,"name":"Mode","var_data":"Day,Night","var_type":4,"variable_id":12})",
              r[1].body);
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(1u, r[i].headers.count("Content_Type"));
        EXPECT_EQ("application/json", r[i].headers.find("Content_Type")->second);
        EXPECT_EQ(0u, r[i].headers.count("Content-Type"));
    }
    EXPECT_EQ("DELETE", r[2].method);
    EXPECT_EQ("/apiv1/variable/12", r[2].target);
    EXPECT_EQ("", r[2].body);
    EXPECT_EQ(0u, r[2].headers.count("Content_Type"));
    EXPECT_EQ(0u, r[2].headers.count("Content-Length"));
    for (const Received& one : r) EXPECT_EQ("WinHttpClient", one.headers.find("User-Agent")->second);
}

TEST_F(RestLoopback, AnAnswerWithoutEndFailsAtTheSizeLimitAndKeepsTheEvents) {
    std::atomic<int> asked{0};
    std::atomic<bool> stop{false};
    const std::string piece(64 * 1024, ' ');
    server.server.Get(R"(/apiv1/calendar/\d+/actions)", [&](const httplib::Request&, httplib::Response& res) {
        if (asked++ == 0) {
            res.set_content(R"({"calendaractions": [{"name": "kept", "date": "2024-01-01"}]})",
                            "application/json");
            return;
        }
        res.set_chunked_content_provider("application/json", [&](size_t offset, httplib::DataSink& sink) {
            if (offset == 0) return sink.write("{\"calendaractions\": [", 21);
            return !stop && sink.write(piece.data(), piece.size());
        });
    });
    client.RefreshActions(1, 0);
    CalendarEventList* events = store.GetEvents();
    ASSERT_EQ("kept", events->GetFirst()->name);
    const auto t0 = std::chrono::steady_clock::now();
    client.RefreshActions(1, 0);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(60));
    stop = true;
    server.Stop();  // the handler reads locals of this test
    EXPECT_EQ(2, asked.load());
    EXPECT_EQ(events, store.GetEvents());
}
