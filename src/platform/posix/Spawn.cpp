#include "platform/posix/Spawn.h"

#include <fcntl.h>
#include <unistd.h>

namespace platform {
namespace posix {

void CloseFd(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

bool Spawn(const std::string& path, const std::vector<std::string>& args, ErrorOutput errorOutput,
           SpawnedProgram* program) {
    int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1};
    const bool pipeErr = errorOutput == ErrorOutput::kPipe;
    if (pipe2(in, O_CLOEXEC) != 0) return false;
    if (pipe2(out, O_CLOEXEC) != 0 || (pipeErr && pipe2(err, O_CLOEXEC) != 0)) {
        for (int* fd : {&in[0], &in[1], &out[0], &out[1], &err[0], &err[1]}) CloseFd(*fd);
        return false;
    }
    // Everything the child needs is made before the fork: between fork and exec only async-signal-safe
    // calls may run in a process with threads.
    std::vector<std::string> argvStore;
    argvStore.push_back(path);
    argvStore.insert(argvStore.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argvStore) argv.push_back(&a[0]);
    argv.push_back(nullptr);

    const pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        if (pipeErr) {
            dup2(err[1], 2);
        } else if (errorOutput == ErrorOutput::kDiscard) {
            const int devNull = open("/dev/null", O_WRONLY | O_CLOEXEC);
            if (devNull >= 0) dup2(devNull, 2);
        }
        execv(path.c_str(), argv.data());
        _exit(127);
    }
    CloseFd(in[0]);
    CloseFd(out[1]);
    CloseFd(err[1]);
    if (pid < 0) {
        CloseFd(in[1]);
        CloseFd(out[0]);
        CloseFd(err[0]);
        return false;
    }
    program->pid = pid;
    program->in = in[1];
    program->out = out[0];
    program->err = err[0];
    return true;
}

}  // namespace posix
}  // namespace platform
