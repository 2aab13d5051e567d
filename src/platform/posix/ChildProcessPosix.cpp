#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

#include "platform/ChildProcess.h"
#include "platform/posix/Spawn.h"

namespace platform {

using posix::CloseFd;

ChildProcess::~ChildProcess() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        Wait(5000);
    }
    CloseFd(inFd_);
    CloseFd(outFd_);
}

bool ChildProcess::Ended() const {
    return outFd_ < 0;
}

bool ChildProcess::Running() const {
    return pid_ > 0;
}

bool ChildProcess::Start(const std::string& path, const std::vector<std::string>& args, bool keepStderr) {
    if (pid_ > 0) return false;
    // A reader that is gone must not end the caller.
    signal(SIGPIPE, SIG_IGN);
    posix::SpawnedProgram program;
    if (!posix::Spawn(path, args, keepStderr ? posix::ErrorOutput::kInherit : posix::ErrorOutput::kDiscard,
                      &program)) {
        return false;
    }
    inFd_ = program.in;
    outFd_ = program.out;
    pid_ = program.pid;
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
        if (outFd_ < 0) return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() < 0) return false;
        pollfd fd{outFd_, POLLIN, 0};
        const int ready = poll(&fd, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno != EINTR) return false;
        if (ready <= 0) continue;
        char buffer[4096];
        const ssize_t r = read(outFd_, buffer, sizeof buffer);
        if (r > 0) {
            pending_.append(buffer, static_cast<size_t>(r));
        } else if (r == 0 || (errno != EAGAIN && errno != EINTR)) {
            CloseFd(outFd_);
            // A last line without its end still counts.
            if (!pending_.empty()) pending_ += '\n';
        }
    }
}

bool ChildProcess::Write(const std::string& text) {
    size_t written = 0;
    while (inFd_ >= 0 && written < text.size()) {
        const ssize_t w = write(inFd_, text.data() + written, text.size() - written);
        if (w > 0) {
            written += static_cast<size_t>(w);
        } else if (w < 0 && errno != EINTR) {
            return false;
        }
    }
    return written == text.size();
}

void ChildProcess::CloseInput() {
    CloseFd(inFd_);
}

void ChildProcess::Terminate() {
    if (pid_ > 0) kill(pid_, SIGTERM);
}

int ChildProcess::Wait(uint32_t timeoutMs) {
    if (pid_ <= 0) return -1;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    bool killed = false;
    for (;;) {
        const pid_t done = waitpid(pid_, &status, killed ? 0 : WNOHANG);
        if (done == pid_ || (done < 0 && errno != EINTR)) break;
        if (done == 0 && std::chrono::steady_clock::now() >= deadline) {
            kill(pid_, SIGKILL);
            killed = true;
        } else if (done == 0) {
            usleep(2000);
        }
    }
    pid_ = -1;
    CloseFd(inFd_);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int64_t ChildProcess::CpuTimeUs() const {
    if (pid_ <= 0) return -1;
    const std::string base = "/proc/" + std::to_string(pid_);
    // Each live thread's run time in nanoseconds, for a finer figure than the clock ticks of "stat".
    if (DIR* tasks = opendir((base + "/task").c_str())) {
        int64_t totalNs = 0;
        bool any = false;
        while (dirent* entry = readdir(tasks)) {
            if (entry->d_name[0] == '.') continue;
            std::ifstream file(base + "/task/" + entry->d_name + "/schedstat");
            long long ns = -1;
            if (file >> ns && ns >= 0) {
                totalNs += ns;
                any = true;
            }
        }
        closedir(tasks);
        if (any) return totalNs / 1000;
    }
    std::ifstream file(base + "/stat");
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    // The program's name may hold spaces; the fields that follow it start after its closing parenthesis.
    const size_t close = text.rfind(')');
    if (close == std::string::npos) return -1;
    std::istringstream fields(text.substr(close + 1));
    std::string field;
    long long utime = -1, stime = -1;
    for (int index = 3; fields >> field; ++index) {
        if (index == 14) utime = std::atoll(field.c_str());
        if (index == 15) {
            stime = std::atoll(field.c_str());
            break;
        }
    }
    const long ticks = sysconf(_SC_CLK_TCK);
    if (utime < 0 || stime < 0 || ticks <= 0) return -1;
    return (utime + stime) * 1000000 / ticks;
}

uint64_t ChildProcess::ResidentBytes() const {
    if (pid_ <= 0) return 0;
    // "statm": total and resident size in pages.
    std::ifstream file("/proc/" + std::to_string(pid_) + "/statm");
    unsigned long long size = 0, resident = 0;
    if (!(file >> size >> resident)) return 0;
    const long page = sysconf(_SC_PAGESIZE);
    return page > 0 ? resident * static_cast<uint64_t>(page) : 0;
}

}  // namespace platform
