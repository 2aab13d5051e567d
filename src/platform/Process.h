// Runs another program to its end: standard input from a text, standard output and error collected.
// Used by the tests that drive the tools from outside.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

struct ProcessResult {
    bool started = false;
    bool timedOut = false;  // killed after the time limit
    int exitCode = -1;      // -1 when the program ended by a signal (or did not start)
    std::string out;
    std::string err;
};

// Prepares a line-oriented program's standard streams: output goes out byte for byte (no line-end
// translation where the platform has one), and a reader that goes away does not end the program.
void PrepareStandardStreams();

// Runs path with args (not including the program name), writes input to its standard input and closes
// it, and waits at most timeoutMs for it to end; a program still running then is killed.
ProcessResult RunProcess(const std::string& path, const std::vector<std::string>& args,
                         const std::string& input, uint32_t timeoutMs);

// The system handles this process holds (Windows: its handle count; POSIX: its open file descriptors); -1
// when it cannot be read. For the tests that prove a lifetime leaves none behind.
int ProcessHandleCount();

}  // namespace platform
