#include <windows.h>
// After windows.h, whose types it uses.
#include <psapi.h>

#include <chrono>

#include "platform/ChildProcess.h"
#include "platform/win32/Spawn.h"

namespace platform {

namespace {

HANDLE* H(void** handle) {
    return reinterpret_cast<HANDLE*>(handle);
}

}  // namespace

ChildProcess::~ChildProcess() {
    if (process_ != nullptr) {
        TerminateProcess(process_, 1);
        Wait(5000);
    }
    win32::CloseHandleOnce(H(&in_));
    win32::CloseHandleOnce(H(&out_));
}

bool ChildProcess::Ended() const {
    return out_ == nullptr;
}

bool ChildProcess::Running() const {
    return process_ != nullptr;
}

bool ChildProcess::Start(const std::string& path, const std::vector<std::string>& args, bool keepStderr) {
    if (process_ != nullptr) return false;
    win32::SpawnedProgram program;
    if (!win32::Spawn(path, args, keepStderr ? win32::ErrorOutput::kInherit : win32::ErrorOutput::kDiscard,
                      &program)) {
        return false;
    }
    process_ = program.process;
    in_ = program.in;
    out_ = program.out;
    terminated_ = false;
    pending_.clear();
    return true;
}

bool ChildProcess::ReadLine(std::string* line, uint32_t timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const size_t end = pending_.find('\n');
        if (end != std::string::npos) {
            if (line) *line = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            return true;
        }
        if (out_ == nullptr) return false;
        // Anonymous pipes cannot be waited on: what has arrived is asked for, at short intervals.
        DWORD available = 0;
        if (!PeekNamedPipe(out_, nullptr, 0, nullptr, &available, nullptr)) {
            win32::CloseHandleOnce(H(&out_));
            // A last line without its end still counts.
            if (!pending_.empty()) pending_ += '\n';
            continue;
        }
        if (available == 0) {
            if (std::chrono::steady_clock::now() >= deadline) return false;
            Sleep(1);
            continue;
        }
        char buffer[4096];
        DWORD read = 0;
        if (ReadFile(out_, buffer, available < sizeof buffer ? available : sizeof buffer, &read, nullptr) &&
            read > 0) {
            pending_.append(buffer, read);
        }
    }
}

bool ChildProcess::Write(const std::string& text) {
    size_t written = 0;
    while (in_ != nullptr && written < text.size()) {
        DWORD w = 0;
        if (!WriteFile(in_, text.data() + written, static_cast<DWORD>(text.size() - written), &w, nullptr))
            return false;
        written += w;
    }
    return written == text.size();
}

void ChildProcess::CloseInput() {
    win32::CloseHandleOnce(H(&in_));
}

// The platform has no polite stop for a program without a window: it is ended, and reports -1 as a
// program ended by a signal does.
void ChildProcess::Terminate() {
    if (process_ != nullptr && TerminateProcess(process_, 1)) terminated_ = true;
}

int ChildProcess::Wait(uint32_t timeoutMs) {
    if (process_ == nullptr) return -1;
    bool killed = false;
    if (WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(process_, 1);
        WaitForSingleObject(process_, INFINITE);
        killed = true;
    }
    DWORD code = 0;
    const bool known = GetExitCodeProcess(process_, &code) != 0;
    win32::CloseHandleOnce(H(&process_));
    win32::CloseHandleOnce(H(&in_));
    if (killed || terminated_ || !known) return -1;
    return static_cast<int>(code);
}

int64_t ChildProcess::CpuTimeUs() const {
    if (process_ == nullptr) return -1;
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(process_, &created, &exited, &kernel, &user)) return -1;
    auto ticks = [](const FILETIME& t) {
        return (static_cast<int64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return (ticks(kernel) + ticks(user)) / 10;
}

uint64_t ChildProcess::ResidentBytes() const {
    if (process_ == nullptr) return 0;
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(process_, &counters, sizeof counters)) return 0;
    return counters.WorkingSetSize;
}

}  // namespace platform
