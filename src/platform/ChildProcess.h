// A program running beside this one that is talked to line by line while it runs: its standard input is
// written, its standard output read, its standard error left to this process's own. Used by the tools that
// drive zrkhost for a long time (the soak).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

class ChildProcess {
public:
    enum class ReadResult { kLine, kTimeout, kEnd };

    ChildProcess() = default;
    // A program still running is killed and waited for.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts path with args (not including the program name); false when it could not be started.
    bool Start(const std::string& path, const std::vector<std::string>& args);
    // Writes the text and a line end to the program's input; false once the program no longer reads it.
    bool WriteLine(const std::string& text);
    // Ends the program's input.
    void CloseInput();
    // The next line of the program's output without its line end, waiting at most timeoutMs for it.
    // One thread reads, another may write at the same time.
    ReadResult ReadLine(std::string* line, uint32_t timeoutMs);
    // Bytes of the program's memory that are resident now; 0 when it is not running or cannot be asked.
    uint64_t ResidentBytes() const;
    // Waits at most timeoutMs for the program's end, killing it then. Its exit code, or -1 when it was
    // killed, ended by a signal or never started.
    int Wait(uint32_t timeoutMs);

private:
    int pid_ = -1;
    int input_ = -1;
    int output_ = -1;
    std::string pending_;  // output read past the last line handed out
    bool ended_ = false;
    int exitCode_ = -1;
};

}  // namespace platform
