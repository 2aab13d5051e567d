#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "platform/Process.h"
#include "platform/posix/Spawn.h"

namespace platform {

void PrepareStandardStreams() {
    signal(SIGPIPE, SIG_IGN);
}

using posix::CloseFd;

ProcessResult RunProcess(const std::string& path, const std::vector<std::string>& args,
                         const std::string& input, uint32_t timeoutMs) {
    ProcessResult result;
    posix::SpawnedProgram program;
    if (!posix::Spawn(path, args, posix::ErrorOutput::kPipe, &program)) return result;
    const pid_t pid = program.pid;
    int inFd = program.in, outFd = program.out, errFd = program.err;
    result.started = true;
    fcntl(inFd, F_SETFL, O_NONBLOCK);
    // A writer that is gone must not end this process.
    struct sigaction ignore {
    }, previous{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &previous);

    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    size_t written = 0;
    if (input.empty()) CloseFd(inFd);
    while (outFd >= 0 || errFd >= 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                          std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            kill(pid, SIGKILL);
            result.timedOut = true;
            break;
        }
        pollfd fds[3];
        int n = 0;
        if (outFd >= 0) fds[n++] = {outFd, POLLIN, 0};
        if (errFd >= 0) fds[n++] = {errFd, POLLIN, 0};
        if (inFd >= 0) fds[n++] = {inFd, POLLOUT, 0};
        int ready = poll(fds, nfds_t(n), int(left.count()));
        if (ready < 0 && errno != EINTR) break;
        for (int i = 0; i < n && ready > 0; ++i) {
            if (!fds[i].revents) continue;
            if (fds[i].fd == inFd) {
                ssize_t w = write(inFd, input.data() + written, input.size() - written);
                if (w > 0) written += size_t(w);
                if (w < 0 && errno != EAGAIN && errno != EINTR) CloseFd(inFd);
                if (written == input.size()) CloseFd(inFd);
                continue;
            }
            char buffer[4096];
            ssize_t r = read(fds[i].fd, buffer, sizeof buffer);
            std::string& sink = fds[i].fd == outFd ? result.out : result.err;
            if (r > 0) {
                sink.append(buffer, size_t(r));
            } else if (r == 0 || (errno != EAGAIN && errno != EINTR)) {
                if (fds[i].fd == outFd)
                    CloseFd(outFd);
                else
                    CloseFd(errFd);
            }
        }
    }
    CloseFd(inFd), CloseFd(outFd), CloseFd(errFd);
    // The program may close its outputs and still run: the time limit holds for its end too.
    int status = 0;
    for (;;) {
        pid_t done = waitpid(pid, &status, result.timedOut ? 0 : WNOHANG);
        if (done == pid || (done < 0 && errno != EINTR)) break;
        if (done == 0 && std::chrono::steady_clock::now() >= deadline) {
            kill(pid, SIGKILL);
            result.timedOut = true;
        } else if (done == 0) {
            usleep(2000);
        }
    }
    sigaction(SIGPIPE, &previous, nullptr);
    if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    return result;
}

int ProcessHandleCount() {
    DIR* dir = opendir("/proc/self/fd");
    if (dir == nullptr) return -1;
    int count = 0;
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] != '.') ++count;
    }
    closedir(dir);
    return count - 1;  // the listing's own descriptor
}

}  // namespace platform
