// The plan page's files as the calendar server serves them: the page at "/", its scripts and styles with
// their types, revalidation by entity tag, and the server's access rules in front of them.
#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "CalendarServer.h"
#include "PageAssets.h"
#include "platform/Clock.h"

using calendar_server::CalendarServer;
using calendar_server::EmbeddedPageFiles;
using calendar_server::HttpServer;

namespace {

class PageAssetsTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(calendar.Load(R"({"locations": [{"location_id": 1, "name": "Hall"}]})",
                                  platform::LocalInstantNow(), &error))
            << error;
        calendar.Register(server, nullptr);
        ASSERT_GT(port = server.bind_to_any_port("127.0.0.1"), 0);
        thread = std::thread([this] { server.listen_after_bind(); });
        while (!server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        client.reset(new httplib::Client("127.0.0.1", port));
        client->set_read_timeout(5, 0);
    }
    void TearDown() override {
        server.stop();
        thread.join();
    }

    CalendarServer calendar;
    HttpServer server;
    std::thread thread;
    int port = 0;
    std::unique_ptr<httplib::Client> client;
};

TEST_F(PageAssetsTest, ServesEveryEmbeddedFileWithItsTypeAndBytes) {
    int files = 0;
    for (const calendar_server::PageFile* f = EmbeddedPageFiles(); f->path; ++f, ++files) {
        auto res = client->Get(f->path);
        ASSERT_TRUE(res) << f->path;
        EXPECT_EQ(200, res->status) << f->path;
        EXPECT_EQ(f->contentType, res->get_header_value("Content-Type")) << f->path;
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(f->data), f->size), res->body) << f->path;
        EXPECT_EQ("no-cache", res->get_header_value("Cache-Control"));
        EXPECT_EQ("nosniff", res->get_header_value("X-Content-Type-Options"));
    }
    EXPECT_EQ(4, files);  // the page, its script, its styles and the calendar view

    auto root = client->Get("/");
    ASSERT_TRUE(root);
    EXPECT_EQ("text/html; charset=utf-8", root->get_header_value("Content-Type"));
    EXPECT_NE(std::string::npos, root->body.find("/page/app.js"));
    EXPECT_NE(std::string::npos,
              root->get_header_value("Content-Security-Policy").find("default-src 'self'"));
}

TEST_F(PageAssetsTest, AnUnchangedFileIsRevalidatedWithoutItsBytes) {
    auto first = client->Get("/page/app.js");
    ASSERT_TRUE(first);
    const std::string etag = first->get_header_value("ETag");
    ASSERT_FALSE(etag.empty());
    auto again = client->Get("/page/app.js", {{"If-None-Match", etag}});
    ASSERT_TRUE(again);
    EXPECT_EQ(304, again->status);
    EXPECT_TRUE(again->body.empty());
    // Another file's tag does not match this one.
    auto other = client->Get("/page/style.css", {{"If-None-Match", etag}});
    ASSERT_TRUE(other);
    EXPECT_EQ(200, other->status);
}

// The scripts go out compressed once at build time, never compressed again on top (the library compresses
// some types by itself): a client taking gzip gets exactly those bytes, one refusing it the file as it is.
TEST_F(PageAssetsTest, ScriptsGoOutPrecompressedToClientsTakingGzip) {
    client->set_decompress(false);
    int packed = 0;
    for (const calendar_server::PageFile* f = EmbeddedPageFiles(); f->path; ++f) {
        if (!f->gzip) continue;
        ++packed;
        auto gz = client->Get(f->path, {{"Accept-Encoding", "br, GZip;q=0.5"}});
        ASSERT_TRUE(gz) << f->path;
        EXPECT_EQ(1u, gz->get_header_value_count("Content-Encoding")) << f->path;
        EXPECT_EQ("gzip", gz->get_header_value("Content-Encoding")) << f->path;
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(f->gzip), f->gzipSize), gz->body) << f->path;
        auto plain = client->Get(f->path, {{"Accept-Encoding", "br, gzip;q=0"}});
        ASSERT_TRUE(plain) << f->path;
        EXPECT_FALSE(plain->has_header("Content-Encoding")) << f->path;
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(f->data), f->size), plain->body) << f->path;
        EXPECT_NE(gz->get_header_value("ETag"), plain->get_header_value("ETag")) << f->path;
    }
    EXPECT_EQ(2, packed);  // the page's script and the calendar view
}

TEST_F(PageAssetsTest, UnknownFilesAndOtherSitesAreRefused) {
    for (const char* path : {"/page/missing.js", "/page/../CMakeLists.txt", "/page/", "/index.html"}) {
        auto res = client->Get(path);
        ASSERT_TRUE(res) << path;
        EXPECT_EQ(404, res->status) << path;
    }
    // The page is read under the same rules as the plug-in's endpoints.
    auto foreign = client->Get("/", {{"Host", "attacker.example"}});
    ASSERT_TRUE(foreign);
    EXPECT_EQ(403, foreign->status);
}

}  // namespace
