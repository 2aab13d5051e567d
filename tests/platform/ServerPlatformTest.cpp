// The calendar server's platform calls: files put in place whole, change stamps, the local zone's
// conversions and the URL fetch (libcurl on POSIX, WinHTTP on Windows), against loopback.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/Files.h"
#include "platform/HttpBackend.h"
#include "platform/LocalZone.h"
#include "platform/UrlFetch.h"
#include "support/LoopbackServer.h"

namespace {

std::string Read(const std::string& path) {
    std::stringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

class ServerFiles : public ::testing::Test {
protected:
    void TearDown() override {
        for (const std::string& p : {path, other, path + ".tmp"}) std::remove(p.c_str());
    }
    const std::string path = ::testing::TempDir() + "server_files_" + std::to_string(std::rand());
    const std::string other = path + ".other";
};

}  // namespace

TEST_F(ServerFiles, AReplacedFileIsWholeAndChangesItsStamp) {
    EXPECT_EQ("missing", platform::FileChangeStamp(path));
    uint64_t size = 0;
    std::string why;
    EXPECT_EQ(platform::FileState::kMissing, platform::QueryFile(path, &size, &why));
    ASSERT_TRUE(platform::ReplaceFileWhole(path, "first"));
    const std::string stamp = platform::FileChangeStamp(path);
    ASSERT_TRUE(platform::ReplaceFileWhole(path, "second, longer"));
    EXPECT_EQ("second, longer", Read(path));
    EXPECT_NE(stamp, platform::FileChangeStamp(path));
    EXPECT_EQ(platform::FileState::kPresent, platform::QueryFile(path, &size, &why));
    EXPECT_EQ(14u, size);
    EXPECT_EQ("", Read(path + ".tmp"));
}

TEST_F(ServerFiles, PlacingNeverReplacesWhatIsThere) {
    ASSERT_TRUE(platform::ReplaceFileWhole(other, "new"));
    std::string why;
    ASSERT_TRUE(platform::PlaceFileIfAbsent(other, path, &why)) << why;
    EXPECT_EQ("new", Read(path));
    ASSERT_TRUE(platform::ReplaceFileWhole(other, "another"));
    EXPECT_FALSE(platform::PlaceFileIfAbsent(other, path, &why));
    EXPECT_FALSE(why.empty());
    EXPECT_EQ("new", Read(path));
}

TEST(ServerLocalZone, LocalTimesConvertBackToTheirInstants) {
    // Mid-January and mid-July 2027, away from any clock change, and a minute past the epoch's day.
    for (int64_t utc : {1800000000LL, 1815000000LL, 86460LL}) {
        platform::CalendarTime local;
        ASSERT_TRUE(platform::UtcToLocalTime(utc, &local)) << utc;
        int64_t back = 0;
        ASSERT_TRUE(platform::LocalTimeToUtc(local, &back)) << utc;
        EXPECT_EQ(utc, back);
    }
}

class ServerUrlFetch : public ::testing::Test {
protected:
    void SetUp() override {
        platform::HttpProxySetting none;
        platform::SetHttpProxyForTesting(&none);
        source.server.Get("/plan.ics", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("BEGIN:VCALENDAR", "text/calendar");
        });
        source.server.Get(
            "/moved", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/plan.ics"); });
        source.server.Get("/held", [this](const httplib::Request&, httplib::Response& res) {
            for (int i = 0; i < 100 && !released; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            res.set_content("late", "text/plain");
        });
        ASSERT_GT(source.Start(), 0);
        base = "http://127.0.0.1:" + std::to_string(source.port());
    }
    void TearDown() override {
        released = true;
        source.Stop();
        platform::SetHttpProxyForTesting(nullptr);
    }
    platform::FetchResult Fetch(const std::string& path, size_t maxBytes = 1000) {
        body.clear();
        return platform::FetchUrl(base + path, maxBytes, 10000, &stop, &body, &error);
    }
    ScopedEnv noProxy{"http_proxy", nullptr};
    LoopbackServer source;
    std::string base, body, error;
    std::atomic<bool> stop{false};
    std::atomic<bool> released{false};
};

TEST_F(ServerUrlFetch, ReadsFollowsRedirectsAndRefusesErrorsAndLargeAnswers) {
    EXPECT_EQ(platform::FetchResult::kOk, Fetch("/plan.ics")) << error;
    EXPECT_EQ("BEGIN:VCALENDAR", body);
    EXPECT_EQ(platform::FetchResult::kOk, Fetch("/moved")) << error;
    EXPECT_EQ("BEGIN:VCALENDAR", body);
    EXPECT_EQ(platform::FetchResult::kFailed, Fetch("/missing"));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(platform::FetchResult::kTooLarge, Fetch("/plan.ics", 5));
}

TEST_F(ServerUrlFetch, AStopEndsAHeldTransferSoon) {
    std::thread stopper([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        stop = true;
    });
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(platform::FetchResult::kFailed, Fetch("/held"));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
    stopper.join();
}
