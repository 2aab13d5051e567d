// The command line of zrkhost:
//   zrkhost [--plugin PATH] [--host FILE] [--settings FILE | --server URL --location N --refresh MIN
//           --lookahead DAYS] [--pending MS [--main-thread]] [--pretty]
#pragma once

#include <string>

namespace zrkhost {

struct Options {
    std::string plugin;  // empty: the library beside the zrkhost binary
    std::string hostFile;
    std::string settingsFile;
    // The connection settings given one by one; those left out keep the device's own values.
    bool hasServer = false, hasLocation = false, hasRefresh = false, hasLookahead = false;
    std::string server;
    int location = 0, refresh = 0, lookahead = 0;
    int pendingMs = -1;  // < 0: asynchronous calls are answered at once
    // Pending calls are completed on the main thread only (between commands and during "wait"), and
    // calls made on it are answered at once, as a host that completes calls on its UI thread does.
    bool mainThread = false;
    bool pretty = false;
    bool help = false;

    bool HasConnection() const { return hasServer || hasLocation || hasRefresh || hasLookahead; }
};

// False with a message for an unknown option, a missing or malformed value, or --settings together with
// the connection options.
bool ParseOptions(int argc, const char* const* argv, Options* out, std::string* error);

extern const char* const kUsage;

// The "DeviceData" settings text with a "Setup" element. base: a settings text of the device whose other
// values are kept (may be empty or unreadable: the device's defaults are then left to the device by
// writing only the given attributes beside "Local" 1).
std::string BuildSettings(const Options& options, const std::string& base);

}  // namespace zrkhost
