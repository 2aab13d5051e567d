// The setup dialog's real window: zrkhost loads the plug-in on a virtual display (xvfb-run), its "configure"
// opens the dialog through the device's Configure, and a script of user actions (the view's test hook) tests
// the connection against a calendar server on loopback, picks a location and presses OK or Cancel. The
// device's saved settings show what the dialog stored; a screenshot is kept beside the test program.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "WindowTestSupport.h"

namespace {

using dialog_test::FindOnPath;
using dialog_test::HostOutput;
using dialog_test::kThemedHost;
using dialog_test::LoopbackCalendar;
using dialog_test::ReadFile;

class SetupDialogWindow : public ::testing::Test {
protected:
    void SetUp() override {
        xvfbRun_ = FindOnPath("xvfb-run");
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        prefix_ = std::string(SETUP_DIALOG_OUTPUT_DIR) + "/" + info->name();
        // The toolkit's own allocations live for the process; only the plug-in's leaks matter here.
        suppressions_ = prefix_ + ".lsan";
        std::ofstream(suppressions_)
            << "leak:libgtk-3\nleak:libgdk-3\nleak:libglib-2.0\nleak:libgobject-2.0\n"
               "leak:libgio-2.0\nleak:libfontconfig\nleak:libpango\nleak:libcairo\n"
               "leak:libX11\nleak:libatk\nleak:libharfbuzz\nleak:libgdk_pixbuf\n";
        // The toolkit's libraries are not instrumented: their threads (font loading, the main context's
        // workers) synchronise in ways the race detector cannot see.
        threadSuppressions_ = prefix_ + ".tsan";
        std::ofstream(threadSuppressions_)
            << "race:libglib-2.0.so.0\nrace:libgobject-2.0.so.0\nrace:libgio-2.0.so.0\n"
               "race:libfontconfig.so.1\nrace:libpango\nrace:libgtk-3.so.0\n"
               "race:libgdk-3.so.0\nrace:libcairo.so.2\n";
    }

    // True when the virtual display can be used; otherwise the test is skipped, except in CI.
    bool NeedDisplay() {
        if (!xvfbRun_.empty()) return true;
        if (std::getenv("CI")) {
            ADD_FAILURE() << "xvfb-run is missing; 'make deps' installs it";
        }
        return false;
    }

    std::string Write(const std::string& suffix, const std::string& text) {
        const std::string path = prefix_ + suffix;
        std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
        return path;
    }

    // zrkhost with the plug-in; with a script it runs on a virtual display, otherwise with none at all.
    HostOutput RunHost(const std::string& hostFile, const std::string& serverUrl, const std::string& script,
                       const std::string& input, const std::vector<std::string>& hostOptions = {},
                       uint32_t limitMs = 60000) {
        std::vector<std::string> args = {
            "-u",
            "DISPLAY",
            "-u",
            "WAYLAND_DISPLAY",
            "LSAN_OPTIONS=suppressions=" + suppressions_ + ":print_suppressions=0",
            "TSAN_OPTIONS=suppressions=" + threadSuppressions_,
            "NO_AT_BRIDGE=1",
            "GSETTINGS_BACKEND=memory",
            "GTK_THEME=Adwaita"};
        if (!script.empty()) {
            args.push_back("ZRK_SETUP_DIALOG_SCRIPT=" + script);
            args.insert(args.end(), {xvfbRun_, "-a", "-s", "-screen 0 1280x1024x24"});
        }
        args.insert(args.end(), {ZRKHOST_PATH, "--plugin", ZRK_PLUGIN_PATH, "--host", hostFile, "--server",
                                 serverUrl, "--location", "1", "--refresh", "10", "--lookahead", "1"});
        args.insert(args.end(), hostOptions.begin(), hostOptions.end());
        return HostOutput(platform::RunProcess("/usr/bin/env", args, input, limitMs));
    }

    std::string xvfbRun_;
    std::string prefix_;
    std::string suppressions_;
    std::string threadSuppressions_;
};

TEST_F(SetupDialogWindow, VerifyPickAndOkStoreTheSettings) {
    if (!NeedDisplay()) GTEST_SKIP() << "xvfb-run not installed: the dialog's window is not tested";
    LoopbackCalendar server;
    ASSERT_TRUE(server.Ready());
    const std::string before = prefix_ + ".before.txt", verified = prefix_ + ".verified.txt";
    const std::string after = prefix_ + ".after.txt";
    std::remove(verified.c_str());
    const std::string shot = prefix_ + ".png";
    std::remove(before.c_str());
    std::remove(after.c_str());
    std::remove(shot.c_str());
    const std::string script = Write(".script",
                                     "wait 200\n"
                                     "dump " +
                                         before +
                                         "\n"
                                         "tab 1\n"
                                         "tab 1\n"
                                         "tab 1\n"
                                         "tab -1\n"
                                         "tab -1\n"
                                         "tab -1\n"
                                         "type 1001 5000\n"
                                         "arrow 1013 up\n"
                                         "arrow 1013 up\n"
                                         "click 1007\n"
                                         "dump " +
                                         verified +
                                         "\n"
                                         "pick 1002 Alpha\n"
                                         "pick 1004 Stage\n"
                                         "click 1011\n"
                                         "wait 200\n"
                                         "screenshot " +
                                         shot +
                                         "\n"
                                         "dump " +
                                         after +
                                         "\n"
                                         "click 1\n");
    HostOutput out =
        RunHost(Write(".host.json", kThemedHost), server.Url(), script, "configure\nsave\nquit\n");
    ASSERT_FALSE(out.process.timedOut) << out.process.err;
    EXPECT_EQ(out.process.exitCode, 0) << out.process.err;
    EXPECT_EQ(out.ResultOf("Configure"), 0) << out.process.err;

    // What OK stored: the typed period (beyond the arrows' range), the stepped lookahead, the picked
    // location.
    EXPECT_EQ(out.Setting("URL"), server.Url());
    EXPECT_EQ(out.Setting("RefreshPeriod"), "5000");
    EXPECT_EQ(out.Setting("Lookahead"), "3");
    EXPECT_EQ(out.Setting("LocationId"), "2");

    // What the window showed before and after the connection test.
    const std::string shown = ReadFile(before);
    EXPECT_NE(shown.find("title: Setup Calendar\n"), std::string::npos) << shown;
    EXPECT_NE(shown.find("1006: " + server.Url() + "\n"), std::string::npos) << shown;
    EXPECT_NE(shown.find("1001: 10\n"), std::string::npos) << shown;
    EXPECT_NE(shown.find("1002: [-1]\n"), std::string::npos) << shown;  // nothing read from the server yet
    EXPECT_NE(shown.find("range 1012: 1..1200\n"), std::string::npos) << shown;
    EXPECT_NE(shown.find("range 1013: 1..7\n"), std::string::npos) << shown;
    const std::string connected = ReadFile(verified);
    EXPECT_NE(connected.find("1008: Connection Success\n"), std::string::npos) << connected;
    EXPECT_NE(connected.find("1002: [2] Alpha| Mid| Zeta|\n"), std::string::npos) << connected;  // Zeta is 1
    const std::string tested = ReadFile(after);
    EXPECT_NE(tested.find("1002: [0] Alpha| Mid| Zeta|\n"), std::string::npos) << tested;
    EXPECT_NE(tested.find("1010: 3\n"), std::string::npos) << tested;
    // Tab walks the layout's order (OK, Cancel, refresh period, ...) and back round to the last control.
    EXPECT_NE(shown.find("focus: 0\n"), std::string::npos) << shown;
    EXPECT_NE(tested.find("focus: 1011\n"), std::string::npos) << tested;

    // Sync mirrored the picked host group into the picked location.
    EXPECT_NE(tested.find("1008: Sync Success\n"), std::string::npos) << tested;
    EXPECT_NE(shown.find("1004: [0] Bar| Stage|\n"), std::string::npos) << shown;
    EXPECT_TRUE(server.HasVariable("Volume", 2)) << server.Document().dump();

    const std::string png = ReadFile(shot);
    ASSERT_GT(png.size(), 8u) << "no screenshot at " << shot;
    EXPECT_EQ(png.compare(0, 8, "\x89PNG\r\n\x1a\n"), 0);
}

TEST_F(SetupDialogWindow, CancelAfterAConnectionTestKeepsTheSettings) {
    if (!NeedDisplay()) GTEST_SKIP() << "xvfb-run not installed: the dialog's window is not tested";
    LoopbackCalendar server;
    ASSERT_TRUE(server.Ready());
    const std::string dump = prefix_ + ".dump.txt", shot = prefix_ + ".png";
    std::remove(dump.c_str());
    const std::string script = Write(".script",
                                     "type 1001 77\n"
                                     "type 1006 http://127.0.0.1:1\n"
                                     "click 1007\n"
                                     "screenshot " +
                                         shot +
                                         "\n"
                                         "dump " +
                                         dump +
                                         "\n"
                                         "click 2\n");
    HostOutput out = RunHost(Write(".host.json", "{}"), server.Url(), script, "configure\nsave\nquit\n");
    ASSERT_FALSE(out.process.timedOut) << out.process.err;
    EXPECT_EQ(out.ResultOf("Configure"), 13) << out.process.err;
    EXPECT_EQ(out.Setting("URL"), server.Url());
    EXPECT_EQ(out.Setting("RefreshPeriod"), "10");
    EXPECT_EQ(out.Setting("LocationId"), "1");
    // Nothing listens on port 1: the test fails and the list stays as the store has it.
    const std::string shown = ReadFile(dump);
    EXPECT_NE(shown.find("1008: Connection Failed\n"), std::string::npos) << shown;
}

TEST_F(SetupDialogWindow, WithoutADisplayConfigureCountsAsCancelled) {
    HostOutput out = RunHost(Write(".host.json", "{}"), "http://127.0.0.1:9", "", "configure\nsave\nquit\n");
    ASSERT_FALSE(out.process.timedOut) << out.process.err;
    EXPECT_EQ(out.process.exitCode, 0) << out.process.err;
    EXPECT_EQ(out.ResultOf("Configure"), 13);
    EXPECT_EQ(out.Setting("URL"), "http://127.0.0.1:9");
}

}  // namespace

// A host that completes calls on its UI thread only: the device's "Sync DB" waits for such a call while
// the dialog's Sync runs on that thread. Neither waits for the other; the device's call is completed once
// the dialog has closed, and Stop returns.
TEST_F(SetupDialogWindow, TheDialogsSyncBesideADeviceSyncWaitingForTheUiThreadEndsAndSoDoesStop) {
    if (!NeedDisplay()) GTEST_SKIP() << "xvfb-run not installed: the dialog's window is not tested";
    LoopbackCalendar server;
    ASSERT_TRUE(server.Ready());
    const std::string synced = prefix_ + ".synced.txt";
    std::remove(synced.c_str());
    // The device's group lookup is completed within the first wait; its item listing is still pending
    // when the dialog opens.
    const std::string script =
        Write(".script", "pick 1004 Stage\nclick 1011\nwait 200\ndump " + synced + "\nclick 2\n");
    HostOutput out = RunHost(Write(".host.json", kThemedHost), server.Url(), script,
                             "sync Stage\nwait 300\nconfigure\nwait 1500\nquit\n",
                             {"--pending", "200", "--main-thread"}, 30000);
    ASSERT_FALSE(out.process.timedOut) << out.process.err;
    EXPECT_EQ(out.process.exitCode, 0) << out.process.err;
    EXPECT_EQ(out.ResultOf("Stop"), 0);
    EXPECT_NE(ReadFile(synced).find("Sync Success"), std::string::npos) << ReadFile(synced);
    EXPECT_TRUE(server.HasVariable("Volume", 1));
}
