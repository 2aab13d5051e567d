#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/Process.h"
#include "platform/win32/Spawn.h"

namespace platform {

using win32::CloseHandleOnce;

void PrepareStandardStreams() {
    // Lines end with LF alone, as everywhere; a reader that is gone only fails the writes.
    _setmode(_fileno(stdout), _O_BINARY);
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

namespace {

// One entry of the system's handle list (information class 16), as the system lays it out.
struct SystemHandleEntry {
    ULONG ownerProcess;
    BYTE objectType;
    BYTE flags;
    USHORT handle;
    PVOID object;
    ACCESS_MASK access;
};

struct SystemHandleList {
    ULONG count;
    SystemHandleEntry first;
};

// The handles of this process in the system's handle list; -1 when the list cannot be read.
int CountInSystemHandleList() {
    using QueryFunction = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    auto query = ntdll ? reinterpret_cast<QueryFunction>(
                             reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQuerySystemInformation")))
                       : nullptr;
    if (query == nullptr) return -1;
    constexpr LONG kLengthMismatch = static_cast<LONG>(0xC0000004);
    std::vector<unsigned char> buffer(1 << 20);
    for (;;) {
        ULONG needed = 0;
        const LONG status = query(16, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
        if (status == kLengthMismatch && buffer.size() < (64u << 20)) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (status != 0) return -1;
        break;
    }
    ULONG entries = 0;
    std::memcpy(&entries, buffer.data(), sizeof entries);
    const size_t first = offsetof(SystemHandleList, first);
    if (entries > (buffer.size() - first) / sizeof(SystemHandleEntry)) return -1;
    const DWORD self = GetCurrentProcessId();
    int count = 0;
    for (ULONG i = 0; i < entries; ++i) {
        SystemHandleEntry entry;
        std::memcpy(&entry, buffer.data() + first + i * sizeof entry, sizeof entry);
        if (entry.ownerProcess == self) ++count;
    }
    return count;
}

}  // namespace

// Wine answers GetProcessHandleCount with 0 whatever the process holds; its system handle list is exact.
int ProcessHandleCount() {
    DWORD count = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count != 0) return static_cast<int>(count);
    return CountInSystemHandleList();
}

}  // namespace platform
