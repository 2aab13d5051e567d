#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <thread>

#include "platform/ChildProcess.h"

namespace platform {

namespace {

void CloseFd(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

}  // namespace

ChildProcess::~ChildProcess() {
    CloseInput();
    if (pid_ > 0 && !ended_) Wait(0);
    CloseFd(output_);
}

bool ChildProcess::Start(const std::string& path, const std::vector<std::string>& args) {
    if (pid_ > 0) return false;
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0) return false;
    if (pipe2(out, O_CLOEXEC) != 0) {
        close(in[0]), close(in[1]);
        return false;
    }
    std::vector<std::string> argvStore;
    argvStore.push_back(path);
    argvStore.insert(argvStore.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argvStore) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    // A reader that is gone must show as a failed write, not end this process.
    signal(SIGPIPE, SIG_IGN);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        execv(path.c_str(), argv.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    if (pid < 0) {
        close(in[1]);
        close(out[0]);
        return false;
    }
    pid_ = pid;
    input_ = in[1];
    output_ = out[0];
    return true;
}

bool ChildProcess::WriteLine(const std::string& text) {
    if (input_ < 0) return false;
    std::string line = text + "\n";
    size_t written = 0;
    while (written < line.size()) {
        ssize_t w = write(input_, line.data() + written, line.size() - written);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        written += size_t(w);
    }
    return true;
}

void ChildProcess::CloseInput() { CloseFd(input_); }

ChildProcess::ReadResult ChildProcess::ReadLine(std::string* line, uint32_t timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        size_t end = pending_.find('\n');
        if (end != std::string::npos) {
            line->assign(pending_, 0, end);
            pending_.erase(0, end + 1);
            return ReadResult::kLine;
        }
        if (output_ < 0) {
            if (pending_.empty()) return ReadResult::kEnd;
            line->swap(pending_);  // a last line without its line end
            pending_.clear();
            return ReadResult::kLine;
        }
        auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return ReadResult::kTimeout;
        pollfd fd{output_, POLLIN, 0};
        int ready = poll(&fd, 1, int(left.count()));
        if (ready < 0 && errno != EINTR) return ReadResult::kEnd;
        if (ready <= 0) continue;
        char buffer[8192];
        ssize_t r = read(output_, buffer, sizeof buffer);
        if (r > 0) {
            pending_.append(buffer, size_t(r));
        } else if (r == 0 || (errno != EAGAIN && errno != EINTR)) {
            CloseFd(output_);
        }
    }
}

uint64_t ChildProcess::ResidentBytes() const {
    if (pid_ <= 0 || ended_) return 0;
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/statm", pid_);
    FILE* file = std::fopen(path, "r");
    if (!file) return 0;
    unsigned long long size = 0, resident = 0;
    int fields = std::fscanf(file, "%llu %llu", &size, &resident);
    std::fclose(file);
    if (fields != 2) return 0;
    return resident * static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
}

int ChildProcess::Wait(uint32_t timeoutMs) {
    if (pid_ <= 0) return -1;
    if (ended_) return exitCode_;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    bool killed = false;
    int status = 0;
    for (;;) {
        pid_t done = waitpid(pid_, &status, killed ? 0 : WNOHANG);
        if (done == pid_ || (done < 0 && errno != EINTR)) break;
        if (done == 0 && std::chrono::steady_clock::now() >= deadline) {
            kill(pid_, SIGKILL);
            killed = true;
        } else if (done == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    ended_ = true;
    exitCode_ = (!killed && WIFEXITED(status)) ? WEXITSTATUS(status) : -1;
    return exitCode_;
}

}  // namespace platform
