// One run of the substitute host: loads the plug-in, brings the device up in the host's order, obeys
// the commands read from the input and takes everything down again at its end.
#pragma once

#include <istream>
#include <string>

#include "EventLog.h"
#include "Options.h"

namespace zrkhost {

// Exit codes of zrkhost.
constexpr int kExitOk = 0;
constexpr int kExitPlugin = 1;  // the plug-in could not be loaded or would not make its device
constexpr int kExitUsage = 2;   // bad command line, host file or settings file

// The default plug-in: the library (libVeltranoCalendar.so, VeltranoCalendar.dll) beside the running binary.
std::string DefaultPluginPath();

// Runs everything; returns the exit code.
int RunSession(const Options& options, std::istream& input, EventLog& log);

}  // namespace zrkhost
