// Starting a program with pipes to its standard streams; shared by the process helpers.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace platform {
namespace posix {

// Where the program's standard error goes.
enum class ErrorOutput { kInherit, kDiscard, kPipe };

struct SpawnedProgram {
    pid_t pid = -1;
    int in = -1;   // write end of its standard input
    int out = -1;  // read end of its standard output
    int err = -1;  // read end of its standard error (kPipe only)
};

// Starts path with args (not including the program name). False when it could not be started; no
// descriptor is then left open.
bool Spawn(const std::string& path, const std::vector<std::string>& args, ErrorOutput errorOutput,
           SpawnedProgram* program);

void CloseFd(int& fd);

}  // namespace posix
}  // namespace platform
