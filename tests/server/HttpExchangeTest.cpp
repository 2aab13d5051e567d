// The exchange algorithm against a scripted backend: every branch of the attempts, the challenges and the
// body reading, and the order in which handles are opened and closed.
#include <gtest/gtest.h>

#include <chrono>
#include <new>

#include "FakeHttpBackend.h"
#include "server/HttpCancel.h"
#include "server/MHttpClient.h"

using namespace platform;

namespace {

class Exchange : public ::testing::Test {
protected:
    MHttpClient Client(int32_t port = 9256, bool secure = false, std::wstring proxyUser = L"",
                       std::wstring serverUser = L"") {
        MHttpClient c(L"calendar", port, secure, L"WinHttpClient", proxyUser, L"ppw", serverUser, L"spw");
        c.SetBackend(&fake);
        return c;
    }
    std::vector<std::string> Tail(size_t n) const {
        return std::vector<std::string>(fake.calls.end() - static_cast<long>(n), fake.calls.end());
    }
    FakeHttpBackend fake;
    MHttpResponse response;
};

const std::vector<std::string> kClosed = {"Close request", "Close connection", "Close session"};

}  // namespace

TEST(ChooseAuthScheme, PrefersNegotiateThenNtlmPassportDigestAndBasicLast) {
    EXPECT_EQ(kHttpAuthNegotiate, ChooseAuthScheme(0x1F));
    EXPECT_EQ(kHttpAuthNtlm,
              ChooseAuthScheme(kHttpAuthNtlm | kHttpAuthPassport | kHttpAuthDigest | kHttpAuthBasic));
    EXPECT_EQ(kHttpAuthPassport, ChooseAuthScheme(kHttpAuthPassport | kHttpAuthDigest | kHttpAuthBasic));
    EXPECT_EQ(kHttpAuthDigest, ChooseAuthScheme(kHttpAuthDigest | kHttpAuthBasic));
    EXPECT_EQ(kHttpAuthBasic, ChooseAuthScheme(kHttpAuthBasic | 0x20));
    EXPECT_EQ(0u, ChooseAuthScheme(0));
    EXPECT_EQ(0u, ChooseAuthScheme(0xFFFFFFE0u));
}

TEST_F(Exchange, PlainGetOpensSendsReadsAndClosesInReverseOrder) {
    FakeResponse r = Answer(200);
    r.headers = L"HTTP/1.1 200 OK\r\nA: b\r\n\r\n";
    r.body = {FakeChunk{"{\"loc"}, FakeChunk{"ations\":[]}"}};
    fake.script = {r};
    EXPECT_TRUE(Client(74792).HttpGet(L"/apiv1/location", L"", response));
    EXPECT_EQ(200u, response.status);
    EXPECT_EQ("{\"locations\":[]}", response.body);
    EXPECT_EQ(L"HTTP/1.1 200 OK\r\nA: b\r\n\r\n", response.headers);
    EXPECT_EQ(L"", response.error);
    const std::vector<std::string> expected = {"Open WinHttpClient",
                                               "Connect calendar:9256",
                                               "OpenRequest GET /apiv1/location 0x100",
                                               "Send",
                                               "Receive",
                                               "QueryStatus",
                                               "QueryHeaderSize",
                                               "QueryHeaders",
                                               "Available",
                                               "Read",
                                               "Available",
                                               "Read",
                                               "Available",
                                               "Close request",
                                               "Close connection",
                                               "Close session"};
    EXPECT_EQ(expected, fake.calls);
    EXPECT_EQ(L"", fake.sentHeaders[0]);
    EXPECT_EQ("", fake.sentBodies[0]);
    EXPECT_EQ(0u, fake.totals_[0]);
}

TEST_F(Exchange, MethodsBodyHeadersAndSecureFlagReachThePlatform) {
    fake.script = {Answer(201), Answer(200), Answer(204)};
    MHttpClient c = Client(443, true);
    EXPECT_TRUE(c.HttpPost(L"/v", L"Content_Type: application/json", "{\"a\":1}", response));
    EXPECT_TRUE(c.HttpPut(L"/v", L"", "x", response));
    EXPECT_TRUE(c.HttpDelete(L"/v/12", L"", "", response));
    EXPECT_EQ(1, fake.Count("OpenRequest POST /v 0x800100"));
    EXPECT_EQ(1, fake.Count("OpenRequest PUT /v 0x800100"));
    EXPECT_EQ(1, fake.Count("OpenRequest DELETE /v/12 0x800100"));
    EXPECT_EQ(L"Content_Type: application/json", fake.sentHeaders[0]);
    EXPECT_EQ("{\"a\":1}", fake.sentBodies[0]);
    EXPECT_EQ(7u, fake.totals_[0]);
    EXPECT_EQ("x", fake.sentBodies[1]);
    EXPECT_EQ("", fake.sentBodies[2]);
    EXPECT_EQ(204u, response.status);
}

TEST_F(Exchange, FailuresToOpenAndConnectReturnAtOnceAndCloseWhatWasOpened) {
    fake.openOk = false;
    EXPECT_FALSE(Client().HttpGet(L"/", L"", response));
    EXPECT_EQ(L"WinHttpOpen fails!", response.error);
    EXPECT_EQ(std::vector<std::string>{"Open WinHttpClient"}, fake.calls);

    fake.calls.clear();
    fake.openOk = true;
    fake.connectOk = false;
    EXPECT_FALSE(Client().HttpGet(L"/", L"", response));
    EXPECT_EQ(L"WinHttpConnect fails!", response.error);
    EXPECT_EQ(std::vector<std::string>{"Close session"}, Tail(1));
    EXPECT_EQ(3u, fake.calls.size());
}

TEST_F(Exchange, RequestThatCannotBeOpenedFailsWithoutMessageOrSend) {
    fake.openRequestOk = false;
    response.error = L"earlier";
    EXPECT_FALSE(Client().HttpGet(L"/", L"", response));
    EXPECT_EQ(L"earlier", response.error);
    EXPECT_EQ(0, fake.Count("Send"));
    EXPECT_EQ((std::vector<std::string>{"Close connection", "Close session"}), Tail(2));
}

TEST_F(Exchange, SendOrReceiveFailureEndsWithFalseStatusZeroAndBodyUntouched) {
    FakeResponse refused;
    refused.sendOk = false;
    fake.script = {refused};
    response.body = "before";
    response.status = 200;
    EXPECT_FALSE(Client().HttpGet(L"/", L"", response));
    EXPECT_EQ(0u, response.status);
    EXPECT_EQ(L"WinHttpSendRequest fails!", response.error);
    EXPECT_EQ("before", response.body);
    EXPECT_EQ(kClosed, Tail(3));

    FakeResponse silent;
    silent.receiveOk = false;
    fake.script = {silent};
    EXPECT_FALSE(Client().HttpGet(L"/", L"", response));
    EXPECT_EQ(L"WinHttpReceiveResponse fails!", response.error);
    EXPECT_EQ(kClosed, Tail(3));
}

TEST_F(Exchange, ResendRequestedByThePlatformStartsAnotherAttemptAtMostThreeTimes) {
    FakeResponse resend;
    resend.sendOk = false;
    resend.sendError = kErrorHttpResendRequest;
    FakeResponse resendOnReceive;
    resendOnReceive.receiveOk = false;
    resendOnReceive.receiveError = kErrorHttpResendRequest;
    fake.script = {resend, resendOnReceive, Answer(200, "ok")};
    EXPECT_TRUE(Client().HttpGet(L"/", L"", response));
    EXPECT_EQ(3, fake.Count("Send"));
    EXPECT_EQ("ok", response.body);
    EXPECT_EQ(200u, response.status);

    // A platform that keeps asking fails the exchange after the third resend.
    fake.calls.clear();
    fake.script = {resend, resendOnReceive, resend, resendOnReceive, Answer(200, "never")};
    EXPECT_FALSE(Client().HttpGet(L"/", L"", response));
    EXPECT_EQ(4, fake.Count("Send"));
    EXPECT_EQ(L"WinHttpReceiveResponse fails!", response.error);
    EXPECT_EQ(kClosed, Tail(3));
}

TEST_F(Exchange, ServerChallengeAnsweredOnceIsFollowedByExactlyOneMoreSend) {
    fake.script = {Answer(401, "denied", kHttpAuthBasic | kHttpAuthDigest), Answer(200, "fine")};
    EXPECT_TRUE(Client(9256, false, L"", L"user").HttpGet(L"/", L"", response));
    EXPECT_EQ(2, fake.Count("Send"));
    EXPECT_EQ(1, fake.Count("SetCredentials server 8 user/spw"));
    EXPECT_EQ(200u, response.status);
    EXPECT_EQ("fine", response.body);
}

TEST_F(Exchange, TwoServerChallengesEndAfterTwoSendsWithTrueAnd401) {
    fake.script = {Answer(401, "first", kHttpAuthNtlm), Answer(401, "second", kHttpAuthNtlm), Answer(200)};
    EXPECT_TRUE(Client().HttpGet(L"/", L"", response));
    EXPECT_EQ(2, fake.Count("Send"));
    // The empty server user name is handed on unchanged.
    EXPECT_EQ(2, fake.Count("SetCredentials server 2 /spw"));
    EXPECT_EQ(401u, response.status);
    EXPECT_EQ("second", response.body);
    EXPECT_EQ(kClosed, Tail(3));
}

TEST_F(Exchange, ChallengeWithUnknownSchemesOnlyEndsAfterOneSend) {
    fake.script = {Answer(401, "who?", 0x20), Answer(200)};
    EXPECT_TRUE(Client().HttpGet(L"/", L"", response));
    EXPECT_EQ(1, fake.Count("Send"));
    EXPECT_EQ(0, fake.Count("SetCredentials"));
    EXPECT_EQ(401u, response.status);
}

TEST_F(Exchange, ChallengeFailuresEndWithFalseAndTheirMessages) {
    FakeResponse noSchemes = Answer(401);
    noSchemes.schemesOk = false;
    fake.script = {noSchemes};
    EXPECT_FALSE(Client().HttpGet(L"/", L"", response));
    EXPECT_EQ(L"WinHttpQueryAuthSchemes in case 401 fails!", response.error);

    fake.script = {Answer(401, "", kHttpAuthBasic)};
    fake.setCredentialsOk = false;
    EXPECT_FALSE(Client().HttpGet(L"/", L"", response));
    EXPECT_EQ(L"WinHttpSetCredentials in case 401 fails!", response.error);

    FakeResponse noProxySchemes = Answer(407);
    noProxySchemes.schemesOk = false;
    fake.script = {noProxySchemes};
    EXPECT_FALSE(Client().HttpGet(L"/", L"", response));
    EXPECT_EQ(L"WinHttpQueryAuthSchemes in case 407 fails!", response.error);
    EXPECT_EQ(kClosed, Tail(3));
}

TEST_F(Exchange, ProxyChallengeWithoutProxyUserSendsNoCredentialsAndEndsOnTheSecond407) {
    fake.script = {Answer(407, "p1", kHttpAuthBasic), Answer(407, "p2", kHttpAuthBasic), Answer(200)};
    EXPECT_TRUE(Client().HttpGet(L"/", L"", response));
    EXPECT_EQ(2, fake.Count("Send"));
    EXPECT_EQ(0, fake.Count("SetCredentials"));
    EXPECT_EQ(407u, response.status);
    EXPECT_EQ("p2", response.body);
}

TEST_F(Exchange, ProxyCredentialsPrecedeTheNextSendAndTheirFailureDoesNotStopIt) {
    fake.script = {Answer(407, "", kHttpAuthDigest | kHttpAuthBasic), Answer(200, "through")};
    EXPECT_TRUE(Client(9256, false, L"puser").HttpGet(L"/", L"", response));
    const auto it = std::find(fake.calls.begin(), fake.calls.end(), "SetCredentials proxy 8 puser/ppw");
    ASSERT_NE(fake.calls.end(), it);
    EXPECT_EQ("Send", *(it + 1));
    EXPECT_EQ("through", response.body);
    EXPECT_EQ(L"", response.error);

    fake.script = {Answer(407, "", kHttpAuthBasic), Answer(200, "anyway")};
    fake.setCredentialsOk = false;
    EXPECT_TRUE(Client(9256, false, L"puser").HttpGet(L"/", L"", response));
    EXPECT_EQ(L"WinHttpSetCredentials fails!", response.error);
    EXPECT_EQ("anyway", response.body);
}

TEST_F(Exchange, AlternatingServerAndProxyChallengesGoOnUntilOneRepeats) {
    fake.script = {Answer(401, "", kHttpAuthBasic), Answer(407, "", kHttpAuthBasic),
                   Answer(401, "", kHttpAuthBasic), Answer(407, "", kHttpAuthBasic),
                   Answer(407, "", kHttpAuthBasic), Answer(200)};
    EXPECT_TRUE(Client().HttpGet(L"/", L"", response));
    EXPECT_EQ(5, fake.Count("Send"));
    EXPECT_EQ(407u, response.status);
}

TEST_F(Exchange, ServerAndProxyChallengingByTurnsStopAfterFiveRounds) {
    for (int i = 0; i < 10; ++i) fake.script.push_back(Answer(i % 2 ? 407 : 401, "", kHttpAuthBasic));
    EXPECT_TRUE(Client(9256, false, L"puser", L"user").HttpGet(L"/", L"", response));
    EXPECT_EQ(6, fake.Count("Send"));
    EXPECT_EQ(407u, response.status);
}

TEST_F(Exchange, BodyOverTheLimitFailsTheExchangeAndIsDropped) {
    FakeResponse endless = Answer(200);
    endless.endless = std::string(1 << 20, '[');
    fake.script = {endless};
    EXPECT_FALSE(Client().HttpGet(L"/", L"", response));
    EXPECT_EQ(static_cast<int>(MHttpClient::kMaxBodyBytes >> 20), fake.Count("Read"));
    EXPECT_TRUE(response.body.empty());
    EXPECT_LT(response.body.capacity(), 1024u);  // released, not kept for the caller
    EXPECT_EQ(L"Response body exceeds the size limit!", response.error);
    EXPECT_EQ(kClosed, Tail(3));
}

TEST_F(Exchange, ABodyTricklingInEndsWithTheExchangesTimeLimit) {
    HttpTimeouts shortened;
    shortened.exchangeMs = 150;
    SetHttpTimeoutsForTesting(&shortened);
    FakeResponse trickle = Answer(200);
    trickle.endless = "x";
    trickle.readDelayMs = 2;
    fake.script = {trickle};
    const auto start = std::chrono::steady_clock::now();
    const bool ok = Client().HttpGet(L"/", L"", response);
    const auto took = std::chrono::steady_clock::now() - start;
    SetHttpTimeoutsForTesting(nullptr);
    EXPECT_FALSE(ok);
    EXPECT_LT(took, std::chrono::seconds(5));
    EXPECT_TRUE(response.body.empty());
    EXPECT_EQ(L"Exchange time limit exceeded!", response.error);
    EXPECT_EQ(kClosed, Tail(3));
}

TEST_F(Exchange, ABodyReadFailingHalfwayFailsTheExchangeAndKeepsWhatArrived) {
    FakeResponse r = Answer(200);
    r.body = {FakeChunk{"ab"}, FakeChunk{"lost", false, true}, FakeChunk{"cd"}};
    fake.script = {r};
    response.body = "old";
    EXPECT_FALSE(Client().HttpGet(L"/", L"", response));
    EXPECT_EQ("ab", response.body);
    EXPECT_EQ(L"Error in WinHttpReadData: 12030", response.error);

    r.body = {FakeChunk{"ab"}, FakeChunk{"", true}};
    fake.script = {r};
    EXPECT_FALSE(Client().HttpGet(L"/", L"", response));
    EXPECT_EQ("ab", response.body);
    EXPECT_EQ(L"Error in WinHttpQueryDataAvailable: 12030", response.error);
    EXPECT_EQ(kClosed, Tail(3));
}

TEST_F(Exchange, AnExceptionInTheExchangeStillDetachesTheCancelAndClosesEveryHandle) {
    HttpCancel token;
    HttpCancel::ThreadScope scope(&token);
    fake.script = {Answer(200, "x")};
    fake.duringSend = [] { throw std::bad_alloc(); };
    EXPECT_THROW(Client().HttpGet(L"/", L"", response), std::bad_alloc);
    EXPECT_EQ(kClosed, Tail(3));
    token.Cancel();  // the closed request is no longer registered: nothing is cancelled
    EXPECT_FALSE(fake.WasCancelled());
}

TEST_F(Exchange, ShortReadAppendsOnlyTheBytesRead) {
    FakeResponse r = Answer(200);
    r.body = {FakeChunk{"abcdef", false, false, 2}, FakeChunk{"gh"}};
    fake.script = {r};
    EXPECT_TRUE(Client().HttpGet(L"/", L"", response));
    EXPECT_EQ(std::string("abcdgh"), response.body);
}

TEST_F(Exchange, HeaderBlockDecidesAfterAFailedStatusQuery) {
    FakeResponse r = Answer(200, "x");
    r.statusOk = false;
    fake.script = {r};
    EXPECT_TRUE(Client().HttpGet(L"/", L"", response));
    EXPECT_EQ(L"WinHttpQueryHeaders fails!", response.error);
    EXPECT_EQ("x", response.body);

    FakeResponse noBlock = Answer(200, "y");
    noBlock.statusOk = false;
    noBlock.headerSizeError = kErrorHttpHeaderNotFound;
    fake.script = {noBlock};
    response.body.clear();
    EXPECT_FALSE(Client().HttpGet(L"/", L"", response));
    EXPECT_EQ("", response.body);

    FakeResponse blockFails = Answer(500, "z");
    blockFails.headersOk = false;
    fake.script = {blockFails};
    EXPECT_FALSE(Client().HttpGet(L"/", L"", response));
    EXPECT_EQ(500u, response.status);
    EXPECT_EQ(kClosed, Tail(3));
}

TEST_F(Exchange, ErrorTextSurvivesASuccessfulExchangeUntilClear) {
    fake.script = {Answer(404, "missing")};
    response.error = L"WinHttpSendRequest fails!";
    EXPECT_TRUE(Client().HttpGet(L"/", L"", response));
    EXPECT_EQ(404u, response.status);
    EXPECT_EQ("missing", response.body);
    EXPECT_EQ(L"WinHttpSendRequest fails!", response.error);
    response.Clear();
    EXPECT_EQ(L"", response.error);
    EXPECT_EQ("", response.body);
    EXPECT_EQ(L"", response.headers);
    EXPECT_EQ(0u, response.status);
}

TEST_F(Exchange, ACancelEndsTheExchangeInProgressAndEveryLaterOneOnThatThreadUntilReset) {
    HttpCancel token;
    HttpCancel::ThreadScope scope(&token);
    fake.script = {Answer(200, "late"), Answer(200, "again"), Answer(200, "fine")};
    fake.duringSend = [&] { token.Cancel(); };
    EXPECT_FALSE(Client().HttpGet(L"/apiv1/location", L"", response));
    EXPECT_EQ(L"WinHttpSendRequest fails!", response.error);
    EXPECT_EQ(Tail(3), kClosed);
    EXPECT_TRUE(fake.WasCancelled());

    // The request of the next exchange is cancelled as soon as it is open: it never sends.
    fake.duringSend = nullptr;
    FakeHttpBackend second;
    second.script = {Answer(200, "fine")};
    MHttpClient client = Client();
    client.SetBackend(&second);
    EXPECT_FALSE(client.HttpGet(L"/apiv1/location", L"", response));
    EXPECT_EQ(second.Count("Receive"), 0);

    token.Reset();
    FakeHttpBackend third;
    third.script = {Answer(200, "fine")};
    client.SetBackend(&third);
    EXPECT_TRUE(client.HttpGet(L"/apiv1/location", L"", response));
}
