// zrkhost: a substitute for the show-control host, enough to run the calendar device plug-in for real
// and to test it from outside.
#include <cstdio>
#include <iostream>

#include "EventLog.h"
#include "Options.h"
#include "Session.h"
#include "platform/Process.h"

int main(int argc, char** argv) {
    // A reader that goes away must not kill the host before it has taken the device down; the event lines
    // are the same bytes on every platform.
    platform::PrepareStandardStreams();
    zrkhost::Options options;
    std::string error;
    if (!zrkhost::ParseOptions(argc, argv, &options, &error)) {
        std::fprintf(stderr, "zrkhost: %s\n%s", error.c_str(), zrkhost::kUsage);
        return zrkhost::kExitUsage;
    }
    if (options.help) {
        std::fputs(zrkhost::kUsage, stdout);
        return zrkhost::kExitOk;
    }
    zrkhost::EventLog log(stdout, options.pretty);
    return zrkhost::RunSession(options, std::cin, log);
}
