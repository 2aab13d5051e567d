// The service's registration arguments and its rotated log file.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <ostream>
#include <regex>
#include <sstream>
#include <thread>

#include "RotatingLog.h"
#include "ServiceSetup.h"

namespace {

namespace fs = std::filesystem;

std::string Read(const fs::path& path) {
    std::stringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

class TempFolder : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() /
                  ("calendar-server-" +
                   std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(folder_);
        fs::create_directories(folder_);
    }
    void TearDown() override { fs::remove_all(folder_); }
    fs::path folder_;
};

}  // namespace

using ServiceSetupTest = TempFolder;

// The service starts in the system's folder: every file it is given must name its absolute path.
TEST_F(ServiceSetupTest, FilesBecomeAbsoluteAndTheDatabaseDefaultsToTheDataFolder) {
    calendar_server::ServiceSetup setup;
    std::string error;
    ASSERT_TRUE(calendar_server::MakeServiceSetup({"--data", "plan.json", "--ics", "2=shows/main.ics",
                                                   "--ics", "3=webcal://example.org/c.ics", "--port", "9300"},
                                                  folder_.string(), &setup, &error));
    const std::string cwd = fs::current_path().string();
    EXPECT_EQ((std::vector<std::string>{"--data", cwd + "/plan.json", "--ics", "2=" + cwd + "/shows/main.ics",
                                        "--ics", "3=webcal://example.org/c.ics", "--port", "9300", "--db",
                                        (folder_ / "calendar.db").string()}),
              setup.arguments);
    EXPECT_EQ((folder_ / "calendar.db").string(), setup.database);
    EXPECT_EQ((folder_ / "calendar-server.log").string(), setup.log);

    ASSERT_TRUE(calendar_server::MakeServiceSetup({"--db", "../venue.db"}, folder_.string(), &setup, &error));
    EXPECT_EQ((fs::current_path().parent_path() / "venue.db").string(), setup.database);
    EXPECT_EQ((std::vector<std::string>{"--db", setup.database}), setup.arguments);
}

TEST_F(ServiceSetupTest, AServiceNeedsAFixedPort) {
    calendar_server::ServiceSetup setup;
    std::string error;
    EXPECT_FALSE(calendar_server::MakeServiceSetup({"--port", "0"}, folder_.string(), &setup, &error));
    EXPECT_NE(std::string::npos, error.find("fixed --port"));
}

using RotatingLogTest = TempFolder;

// Lines from several threads land whole, and the two files together never pass twice the size, the
// newest lines in the current file.
TEST_F(RotatingLogTest, RotatesAtItsSizeKeepingWholeLines) {
    const fs::path path = folder_ / "server.log";
    std::ofstream(path) << "an older line\n";
    {
        calendar_server::RotatingLog file(path.string(), 1000);
        ASSERT_TRUE(file.ok());
        std::vector<std::thread> writers;
        for (int w = 0; w < 4; ++w) {
            writers.emplace_back([&file, w] {
                std::ostream log(&file);
                for (int i = 0; i < 200; ++i) log << "writer " << w << " line " << i << " of the log\n";
            });
        }
        for (auto& t : writers) t.join();
        std::ostream(&file) << "the last line\n";
    }
    const std::string current = Read(path);
    const std::string previous = Read(path.string() + ".1");
    EXPECT_LE(current.size(), 1000u);
    EXPECT_LE(previous.size(), 1000u);
    EXPECT_GT(previous.size(), 900u);
    EXPECT_NE(std::string::npos, current.find("the last line\n"));
    const std::regex whole("writer [0-3] line [0-9]+ of the log|the last line");
    for (const std::string* text : {&current, &previous}) {
        std::istringstream lines(*text);
        for (std::string line; std::getline(lines, line);) EXPECT_TRUE(std::regex_match(line, whole)) << line;
    }
}
