// The Windows DLL's setup dialog under Wine on a virtual display: zrkhost.exe loads VeltranoCalendar.dll,
// its "configure" opens the dialog template through the device's Configure, and the view's script hook
// acts as the user against the calendar server on loopback. Run by make test's Windows step, which names
// the folder of the Windows build in ZRK_WINDOWS_BIN; each test leaves a PNG of the dialog beside this
// program.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <string>
#include <vector>

#include "WindowTestSupport.h"

namespace {

using dialog_test::FindOnPath;
using dialog_test::HostOutput;
using dialog_test::kThemedHost;
using dialog_test::LoopbackCalendar;
using dialog_test::ReadFile;

// The screen Configure centres the dialog on (zrkhost's host rectangle).
constexpr int kHostWidth = 1280;
constexpr int kHostHeight = 800;

// A path of this machine as Windows programs under Wine see it.
std::string WinePath(const std::string& path) {
    std::string result = "Z:" + path;
    for (char& c : result) {
        if (c == '/') c = '\\';
    }
    return result;
}

class Win32SetupDialogWindow : public ::testing::Test {
protected:
    void SetUp() override {
        const char* bin = std::getenv("ZRK_WINDOWS_BIN");
        if (!bin || !*bin)
            GTEST_SKIP() << "ZRK_WINDOWS_BIN unset: the Windows dialog runs in make test's Windows step";
        bin_ = bin;
        for (const char* tool : {"xvfb-run", "wine", "wineserver", "convert"}) {
            ASSERT_FALSE(FindOnPath(tool).empty()) << tool << " is missing; 'make deps' installs it";
        }
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        prefix_ = std::string(SETUP_DIALOG_OUTPUT_DIR) + "/" + info->name();
    }

    // The view's script, one action a line.
    std::string WriteScript(std::initializer_list<std::string> lines) {
        std::string text;
        for (const std::string& line : lines) text += line + "\n";
        return Write(".script", text);
    }

    std::string Write(const std::string& suffix, const std::string& text) {
        const std::string path = prefix_ + suffix;
        std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
        return path;
    }

    // zrkhost.exe with the DLL on a display of its own. The Wine prefix is kept for window runs only (a
    // Wine server started without a display cannot open windows later); each run ends its Wine server
    // before the display goes, so that the next run starts a fresh one.
    HostOutput RunHost(const std::string& hostFile, const std::string& serverUrl, const std::string& script) {
        const std::string run =
            "wineserver -k 2>/dev/null; "
            // Wine draws the caption itself: the virtual display has no window manager to do it.
            "wine reg add 'HKCU\\Software\\Wine\\X11 Driver' /v Decorated /d N /f </dev/null >/dev/null "
            "2>&1; "
            "wine \"$0\" \"$@\"; rc=$?; wineserver -k; exit $rc";
        std::vector<std::string> args = {"WINEPREFIX=" + bin_ + "/../wineprefix-dialog",
                                         "WINEDEBUG=-all",
                                         "ZRK_SETUP_DIALOG_SCRIPT=" + WinePath(script),
                                         "xvfb-run",
                                         "-a",
                                         "-s",
                                         "-screen 0 1280x1024x24",
                                         "sh",
                                         "-c",
                                         run,
                                         bin_ + "/zrkhost.exe",
                                         "--plugin",
                                         WinePath(bin_ + "/VeltranoCalendar.dll"),
                                         "--host",
                                         WinePath(hostFile),
                                         "--server",
                                         serverUrl,
                                         "--location",
                                         "1",
                                         "--refresh",
                                         "10",
                                         "--lookahead",
                                         "1"};
        // A fresh prefix is made on the first run, which takes Wine half a minute.
        return HostOutput(platform::RunProcess("/usr/bin/env", args, "configure\nsave\nquit\n", 240000));
    }

    // The dialog's capture (a BMP the view wrote) as a PNG beside the test program.
    void KeepScreenshot(const std::string& bmp) {
        const std::string png = prefix_ + ".png";
        std::remove(png.c_str());
        platform::RunProcess("/usr/bin/env", {"convert", bmp, png}, "", 30000);
        const std::string bytes = ReadFile(png);
        ASSERT_GT(bytes.size(), 8u) << "no screenshot at " << png;
        EXPECT_EQ(bytes.compare(0, 8, "\x89PNG\r\n\x1a\n"), 0);
    }

    std::string bin_;
    std::string prefix_;
};

TEST_F(Win32SetupDialogWindow, VerifyPickSyncAndOkStoreTheSettings) {
    LoopbackCalendar server;
    ASSERT_TRUE(server.Ready());
    const std::string before = prefix_ + ".before.txt", verified = prefix_ + ".verified.txt";
    const std::string after = prefix_ + ".after.txt", shot = prefix_ + ".bmp";
    for (const std::string& file : {before, verified, after, shot}) std::remove(file.c_str());
    const std::string script = WriteScript(
        {"wait 300", "dump " + WinePath(before), "type 1001 999", "arrow 1012 up", "arrow 1013 up",
         "arrow 1013 up", "click 1007", "dump " + WinePath(verified), "pick 1002 Alpha", "pick 1004 Stage",
         "click 1011", "wait 300", "screenshot " + WinePath(shot), "dump " + WinePath(after), "click 1"});
    HostOutput out = RunHost(Write(".host.json", kThemedHost), server.Url(), script);
    ASSERT_FALSE(out.process.timedOut) << out.process.err;
    EXPECT_EQ(out.process.exitCode, 0) << out.process.err;
    EXPECT_EQ(out.ResultOf("Configure"), 0) << out.process.out << out.process.err;

    // The arrow stepped 999 to 1000, written without a thousands separator; the lookahead was stepped
    // twice; the location picked after the connection test.
    EXPECT_EQ(out.Setting("URL"), server.Url());
    EXPECT_EQ(out.Setting("RefreshPeriod"), "1000");
    EXPECT_EQ(out.Setting("Lookahead"), "3");
    EXPECT_EQ(out.Setting("LocationId"), "2");

    // The template's window, centred on the host's rectangle, with the texts, ranges and lists filled.
    const std::string shown = ReadFile(before);
    EXPECT_NE(shown.find("title: Setup Calendar\n"), std::string::npos) << shown;
    int width = 0, height = 0, x = 0, y = 0;
    const size_t size = shown.find("size: ");
    ASSERT_NE(size, std::string::npos) << shown;
    ASSERT_EQ(std::sscanf(shown.c_str() + size, "size: %dx%d at %d,%d", &width, &height, &x, &y), 4);
    EXPECT_GT(width, 289);  // dialog units are wider than pixels
    EXPECT_EQ(x, (kHostWidth - width) / 2);
    EXPECT_EQ(y, (kHostHeight - height) / 2);
    EXPECT_NE(shown.find("owner: none\n"), std::string::npos) << shown;  // zrkhost has no main window
    EXPECT_NE(shown.find("1006: " + server.Url() + "\n"), std::string::npos) << shown;
    EXPECT_NE(shown.find("1001: 10\n"), std::string::npos) << shown;
    EXPECT_NE(shown.find("range 1012: 1..1200\n"), std::string::npos) << shown;
    EXPECT_NE(shown.find("range 1013: 1..7\n"), std::string::npos) << shown;
    EXPECT_NE(shown.find("1002: [-1]\n"), std::string::npos) << shown;
    EXPECT_NE(shown.find("1004: [0] Bar| Stage|\n"), std::string::npos) << shown;

    // Entries go where the presenter puts them, whatever the sorted list box would do with them.
    const std::string connected = ReadFile(verified);
    EXPECT_NE(connected.find("1008: Connection Success\n"), std::string::npos) << connected;
    EXPECT_NE(connected.find("1002: [2] Alpha| Mid| Zeta|\n"), std::string::npos) << connected;
    const std::string synced = ReadFile(after);
    EXPECT_NE(synced.find("1001: 1000\n"), std::string::npos) << synced;
    EXPECT_NE(synced.find("1002: [0] Alpha| Mid| Zeta|\n"), std::string::npos) << synced;
    EXPECT_NE(synced.find("1004: [1] Bar| Stage|\n"), std::string::npos) << synced;
    EXPECT_NE(synced.find("1008: Sync Success\n"), std::string::npos) << synced;
    EXPECT_TRUE(server.HasVariable("Volume", 2)) << server.Document().dump();

    KeepScreenshot(shot);
}

TEST_F(Win32SetupDialogWindow, CancelKeepsTheSettingsAndAPressDuringALongCallIsDropped) {
    // Every answer takes a second and a half: OK is pressed while the connection test waits for it.
    LoopbackCalendar server(1500);
    ASSERT_TRUE(server.Ready());
    const std::string dump = prefix_ + ".dump.txt", shot = prefix_ + ".bmp";
    std::remove(dump.c_str());
    std::remove(shot.c_str());
    const std::string script =
        WriteScript({"type 1001 77", "click-later 500 1", "click 1007", "wait 500",
                     "screenshot " + WinePath(shot), "dump " + WinePath(dump), "click 2"});
    HostOutput out = RunHost(Write(".host.json", "{}"), server.Url(), script);
    ASSERT_FALSE(out.process.timedOut) << out.process.err;
    EXPECT_EQ(out.ResultOf("Configure"), 13) << out.process.out << out.process.err;
    EXPECT_EQ(out.Setting("URL"), server.Url());
    EXPECT_EQ(out.Setting("RefreshPeriod"), "10");
    EXPECT_EQ(out.Setting("LocationId"), "1");
    const std::string shown = ReadFile(dump);
    EXPECT_NE(shown.find("1008: Connection Success\n"), std::string::npos) << shown;
    EXPECT_NE(shown.find("1001: 77\n"), std::string::npos) << shown;

    // Without the host's theme: system colours and plainly drawn buttons.
    KeepScreenshot(shot);
}

}  // namespace
