// What "calendar-server service install" registers: the arguments the service manager starts the server
// with, and where the service keeps its database and log.
#pragma once

#include <string>
#include <vector>

namespace calendar_server {

extern const char kServiceName[];

struct ServiceSetup {
    std::vector<std::string> arguments;  // the server's options, as the service runs with them
    std::string database;                // the database file
    std::string log;                     // the log file, in the data folder
};

// From the server options given to "service install" and the service's data folder: files named by
// absolute paths (a service starts in the system's folder, not the one it was installed from), and the
// database in the data folder unless --db names one. False with *error for what a service cannot run with
// (--port 0: its clients need to know the port); the options themselves are checked by the server's parser.
bool MakeServiceSetup(const std::vector<std::string>& given, const std::string& dataFolder,
                      ServiceSetup* setup, std::string* error);

}  // namespace calendar_server
