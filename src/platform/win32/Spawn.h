// Starting a program with pipes to its standard streams, for RunProcess and ChildProcess.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace platform {
namespace win32 {

enum class ErrorOutput { kInherit, kDiscard, kPipe };

struct SpawnedProgram {
    HANDLE process = nullptr;
    HANDLE in = nullptr;   // writes to its standard input
    HANDLE out = nullptr;  // reads its standard output
    HANDLE err = nullptr;  // reads its standard error (kPipe only)
};

// Starts path with args (not including the program name); the caller closes what it receives.
bool Spawn(const std::string& path, const std::vector<std::string>& args, ErrorOutput error,
           SpawnedProgram* program);

void CloseHandleOnce(HANDLE* handle);

}  // namespace win32
}  // namespace platform
