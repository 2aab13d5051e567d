#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "platform/Process.h"

namespace platform {

namespace {

void CloseFd(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

}  // namespace

ProcessResult RunProcess(const std::string& path, const std::vector<std::string>& args,
                         const std::string& input, uint32_t timeoutMs) {
    ProcessResult result;
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) != 0) return result;
    if (pipe2(out, O_CLOEXEC) != 0) {
        close(in[0]), close(in[1]);
        return result;
    }
    if (pipe2(err, O_CLOEXEC) != 0) {
        close(in[0]), close(in[1]), close(out[0]), close(out[1]);
        return result;
    }
    std::vector<std::string> argvStore;
    argvStore.push_back(path);
    argvStore.insert(argvStore.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argvStore) argv.push_back(&a[0]);
    argv.push_back(nullptr);

    pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        execv(path.c_str(), argv.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    int inFd = in[1], outFd = out[0], errFd = err[0];
    if (pid < 0) {
        CloseFd(inFd), CloseFd(outFd), CloseFd(errFd);
        return result;
    }
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

}  // namespace platform
