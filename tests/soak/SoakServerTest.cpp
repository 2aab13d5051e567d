// The soak's misbehaving server on loopback: each way of answering as the device's transport meets it.
#include <gtest/gtest.h>
#include <httplib.h>

#include <nlohmann/json.hpp>

#include "SoakServer.h"
#include "calendar/MCalendarEvent.h"
#include "platform/Clock.h"
#include "support/Eventually.h"

namespace {

using soak::AnswerMode;

std::vector<soak::PlannedAction> TwoActions() {
    soak::PlannedAction task;
    task.index = 0;
    task.instant = 133589952000000000ULL + 10 * platform::kTicksPerSecond;
    task.macro = "Soak 0";
    soak::PlannedAction set = task;
    set.index = 1;
    set.instant += platform::kTicksPerSecond;
    set.setVariable = true;
    set.macro = "Counter";
    set.data = "1";
    return {task, set};
}

class SoakServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        server_.SetSlowMs(40, 40);
        ASSERT_GT(port_ = server_.Start(), 0);
    }

    httplib::Result Get(int readTimeoutMs = 5000) {
        httplib::Client client("127.0.0.1", port_);
        client.set_read_timeout(0, readTimeoutMs * 1000);
        return client.Get("/apiv1/calendar/1/actions?date=2024-05-01");
    }

    soak::SoakServer server_{TwoActions(), {1, 0, 0, 0, 0, 0}, 1};
    int port_ = 0;
};

}  // namespace

TEST(SoakActionsBody, ListsThePlanAsTheClientReadsIt) {
    auto plan = TwoActions();
    nlohmann::json answer = nlohmann::json::parse(soak::ActionsBody(plan));
    ASSERT_EQ(answer["calendaractions"].size(), 2u);
    const nlohmann::json& set = answer["calendaractions"][1];
    EXPECT_EQ(set["macro"], "Counter");
    EXPECT_EQ(set["macro_action"], 2);
    EXPECT_EQ(set["macro_data"], "1");
    EXPECT_EQ(answer["calendaractions"][0]["macro_action"], 1);
    MCalendarEvent event;
    ASSERT_TRUE(ParseEventTime(set["date"].get<std::string>().c_str(), &event));
    EXPECT_EQ(event.time, plan[1].instant);
}

TEST_F(SoakServerTest, CorrectAndSlowAnswersCarryTheWholeListOthersNoList) {
    const std::string body = soak::ActionsBody(TwoActions());
    server_.Script({AnswerMode::kCorrect, AnswerMode::kSlow, AnswerMode::kGarbage, AnswerMode::kError500,
                    AnswerMode::kTruncated, AnswerMode::kError404, AnswerMode::kEndless});
    for (int i = 0; i < 2; ++i) {
        auto r = Get();
        ASSERT_TRUE(r) << i;
        EXPECT_EQ(r->status, 200);
        EXPECT_EQ(r->body, body);
    }
    auto garbage = Get();
    ASSERT_TRUE(garbage);
    EXPECT_EQ(garbage->status, 200);
    EXPECT_TRUE(nlohmann::json::parse(garbage->body, nullptr, false).is_discarded());
    auto error = Get();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->status, 500);
    EXPECT_EQ(nlohmann::json::parse(error->body, nullptr, false).value("error", ""), "boom");
    // The cut body: the client sees the connection end before the announced length.
    auto cut = Get();
    EXPECT_TRUE(!cut || cut->body.size() < body.size());
    auto missing = Get();
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->status, 404);
    EXPECT_TRUE(nlohmann::json::parse(missing->body, nullptr, false).contains("error"));
    // The endless body goes on for as long as the client takes it.
    size_t taken = 0;
    httplib::Client client("127.0.0.1", port_);
    client.Get("/apiv1/calendar/1/actions", [&](const char*, size_t n) { return (taken += n) < (4u << 20); });
    EXPECT_GE(taken, 4u << 20);

    std::vector<int> counts = server_.Counts();
    EXPECT_EQ(counts[static_cast<int>(AnswerMode::kCorrect)], 1);
    EXPECT_EQ(counts[static_cast<int>(AnswerMode::kSlow)], 1);
    EXPECT_EQ(counts[static_cast<int>(AnswerMode::kGarbage)], 1);
    EXPECT_EQ(counts[static_cast<int>(AnswerMode::kError500)], 1);
    EXPECT_EQ(counts[static_cast<int>(AnswerMode::kTruncated)], 1);
    EXPECT_EQ(counts[static_cast<int>(AnswerMode::kError404)], 1);
    EXPECT_EQ(counts[static_cast<int>(AnswerMode::kEndless)], 1);
    EXPECT_EQ(server_.CorrectAnswerTimes().size(), 2u);  // only the whole lists
    EXPECT_EQ(server_.ActionRequests(), 7);
    EXPECT_EQ(server_.RequestTimes().size(), 7u);
    // Every exchange is over (the endless one once the server finds the client gone): none is open later.
    EXPECT_TRUE(Eventually([&] {
        return server_.ExchangeOpenAt(platform::LocalInstantNow() + 10 * platform::kTicksPerSecond, 0) == 0u;
    }));
}

TEST_F(SoakServerTest, SilentAnswerOutlastsTheClientAndStopWakesIt) {
    server_.SetSilentHoldMs(60000);
    server_.Script({AnswerMode::kSilent});
    auto r = Get(200);
    EXPECT_FALSE(r);  // the client gave up waiting
    // The exchange counts as open while the server holds it.
    uint64_t asked = server_.RequestTimes().at(0);
    EXPECT_EQ(server_.ExchangeOpenAt(platform::LocalInstantNow(), 0), asked);
    EXPECT_EQ(server_.ExchangeOpenAt(asked - 1, 0), 0u);
    // Stopping does not wait out the hold.
    auto before = std::chrono::steady_clock::now();
    server_.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(20));
    EXPECT_TRUE(server_.CorrectAnswerTimes().empty());
}

TEST_F(SoakServerTest, TheRestOfTheInterfaceAnswersAtOnceAndTheVariableTableKeepsWhatIsSent) {
    httplib::Client client("127.0.0.1", port_);
    auto locations = client.Get("/apiv1/location");
    ASSERT_TRUE(locations);
    EXPECT_EQ(nlohmann::json::parse(locations->body)["locations"][0]["location_id"], 1);
    auto variables = client.Get("/apiv1/variable?locationid=1");
    ASSERT_TRUE(variables);
    EXPECT_TRUE(nlohmann::json::parse(variables->body)["variables"].empty());
    EXPECT_EQ(client.Post("/apiv1/variable", "{}", "application/json")->status, 400);
    for (const char* name : {"B", "A"}) {
        const std::string body = std::string(R"({"name":")") + name + R"(","var_type":1,"location_id":1})";
        EXPECT_EQ(client.Post("/apiv1/variable", body, "application/json")->status, 200);
    }
    EXPECT_EQ(server_.VariableNames(), (std::vector<std::string>{"A", "B"}));
    variables = client.Get("/apiv1/variable?locationid=1");
    ASSERT_TRUE(variables);
    const int firstId = nlohmann::json::parse(variables->body)["variables"][0]["variable_id"];
    EXPECT_EQ(client.Delete("/apiv1/variable/" + std::to_string(firstId))->status, 200);
    EXPECT_EQ(server_.VariableNames(), (std::vector<std::string>{"A"}));
    EXPECT_EQ(server_.ActionRequests(), 0);
}
