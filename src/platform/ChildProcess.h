// A program running beside the caller while the caller talks to it: its standard input is written a line
// at a time, its standard output read line by line as it comes. Used by the tools and tests that drive the
// substitute host and the calendar server together. Standard error goes to the caller's own, or nowhere.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

class ChildProcess {
public:
    ChildProcess() = default;
    // A program still running is killed and waited for.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts path with args (not including the program name). False when it could not be started.
    bool Start(const std::string& path, const std::vector<std::string>& args, bool keepStderr = false);

    // The next whole line of standard output (without its end), waiting at most timeoutMs. False at the
    // time limit or at the end of the output (Ended() tells which).
    bool ReadLine(std::string* line, uint32_t timeoutMs);
    bool Ended() const;

    // Writes text to standard input; false when the program no longer reads it.
    bool Write(const std::string& text);
    void CloseInput();

    // Asks the program to end (the polite stop signal), without waiting.
    void Terminate();
    // Waits at most timeoutMs for the end and returns the exit code; a program still running then is
    // killed. -1 for an end by a signal.
    int Wait(uint32_t timeoutMs);

    bool Running() const;
    // Processor time the program's live threads have used so far, in microseconds; -1 when unknown.
    int64_t CpuTimeUs() const;
    // Bytes of the program's memory resident now; 0 when it is not running or cannot be asked.
    uint64_t ResidentBytes() const;

private:
#if defined(_WIN32)
    void* process_ = nullptr;  // the platform's handles
    void* in_ = nullptr;
    void* out_ = nullptr;
    bool terminated_ = false;
#else
    int pid_ = -1;
    int inFd_ = -1;
    int outFd_ = -1;
#endif
    std::string pending_;
};

}  // namespace platform
