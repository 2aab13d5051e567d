#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <thread>

#include "platform/Process.h"
#include "platform/win32/Spawn.h"

namespace platform {

using win32::CloseHandleOnce;

void PrepareStandardStreams() {
    // Lines end with LF alone, as everywhere; a reader that is gone only fails the writes.
    _setmode(_fileno(stdout), _O_BINARY);
}

int ProcessHandleCount() {
    DWORD count = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count > 0) return static_cast<int>(count);
    // Some Windows-compatible platforms answer 0, which no running process holds: the handles are then
    // counted one by one among the values the handle table hands out (multiples of 4), up to a long run of
    // values that name nothing.
    int found = 0;
    int unused = 0;
    for (uintptr_t value = 4; unused < 4096; value += 4) {
        DWORD flags = 0;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) {
            ++found;
            unused = 0;
        } else {
            ++unused;
        }
    }
    return found > 0 ? found : -1;
}

namespace {

void ReadAll(HANDLE pipe, std::string* sink) {
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(pipe, buffer, sizeof buffer, &read, nullptr) && read > 0) sink->append(buffer, read);
}

}  // namespace

ProcessResult RunProcess(const std::string& path, const std::vector<std::string>& args,
                         const std::string& input, uint32_t timeoutMs) {
    ProcessResult result;
    win32::SpawnedProgram program;
    if (!win32::Spawn(path, args, win32::ErrorOutput::kPipe, &program)) return result;
    result.started = true;
    // Pipes are read and written on threads of their own, so that no full pipe can stall the others.
    std::thread writer([&] {
        size_t written = 0;
        while (written < input.size()) {
            DWORD w = 0;
            if (!WriteFile(program.in, input.data() + written, static_cast<DWORD>(input.size() - written), &w,
                           nullptr))
                break;
            written += w;
        }
        CloseHandleOnce(&program.in);
    });
    std::thread outReader(ReadAll, program.out, &result.out);
    std::thread errReader(ReadAll, program.err, &result.err);
    if (WaitForSingleObject(program.process, timeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(program.process, 1);
        WaitForSingleObject(program.process, INFINITE);
        result.timedOut = true;
    }
    DWORD code = 0;
    if (!result.timedOut && GetExitCodeProcess(program.process, &code))
        result.exitCode = static_cast<int>(code);
    // A stalled writer is freed by the program's end (its pipe breaks); the readers by the pipes closing.
    writer.join();
    outReader.join();
    errReader.join();
    CloseHandleOnce(&program.out);
    CloseHandleOnce(&program.err);
    CloseHandleOnce(&program.process);
    return result;
}

}  // namespace platform
