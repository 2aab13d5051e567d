#include "platform/win32/Spawn.h"

#include <mutex>

namespace platform {
namespace win32 {
namespace {

// One argument quoted as the C runtime splits a command line: backslashes count only before a quote.
void AppendQuoted(std::string* line, const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) {
        *line += arg;
        return;
    }
    *line += '"';
    size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"')
            line->append(backslashes * 2 + 1, '\\');
        else
            line->append(backslashes, '\\');
        backslashes = 0;
        *line += c;
    }
    line->append(backslashes * 2, '\\');
    *line += '"';
}

// The child's ends are inheritable, ours are not.
bool MakePipe(HANDLE* childEnd, HANDLE* ourEnd, bool childReads) {
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE read = nullptr, write = nullptr;
    if (!CreatePipe(&read, &write, &sa, 0)) return false;
    *childEnd = childReads ? read : write;
    *ourEnd = childReads ? write : read;
    SetHandleInformation(*ourEnd, HANDLE_FLAG_INHERIT, 0);
    return true;
}

// Inheritable handles made for one start must not leak into a program started at the same time.
std::mutex g_spawnMutex;

}  // namespace

void CloseHandleOnce(HANDLE* handle) {
    if (*handle != nullptr) CloseHandle(*handle);
    *handle = nullptr;
}

bool Spawn(const std::string& path, const std::vector<std::string>& args, ErrorOutput error,
           SpawnedProgram* program) {
    std::string line;
    AppendQuoted(&line, path);
    for (const std::string& arg : args) {
        line += ' ';
        AppendQuoted(&line, arg);
    }
    std::lock_guard<std::mutex> lock(g_spawnMutex);
    HANDLE childIn = nullptr, childOut = nullptr, childErr = nullptr;
    SpawnedProgram p;
    bool ok = MakePipe(&childIn, &p.in, true) && MakePipe(&childOut, &p.out, false);
    if (ok && error == ErrorOutput::kPipe) ok = MakePipe(&childErr, &p.err, false);
    if (ok && error == ErrorOutput::kDiscard) {
        SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
        childErr = CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, OPEN_EXISTING,
                               0, nullptr);
        ok = childErr != INVALID_HANDLE_VALUE;
        if (!ok) childErr = nullptr;
    }
    if (ok && error == ErrorOutput::kInherit) {
        HANDLE own = GetStdHandle(STD_ERROR_HANDLE);
        ok = own != nullptr && own != INVALID_HANDLE_VALUE &&
             DuplicateHandle(GetCurrentProcess(), own, GetCurrentProcess(), &childErr, 0, TRUE,
                             DUPLICATE_SAME_ACCESS);
        if (!ok) childErr = nullptr;
    }
    PROCESS_INFORMATION info{};
    if (ok) {
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = childIn;
        startup.hStdOutput = childOut;
        startup.hStdError = childErr;
        ok = CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                            &startup, &info) != 0;
    }
    CloseHandleOnce(&childIn);
    CloseHandleOnce(&childOut);
    CloseHandleOnce(&childErr);
    if (!ok) {
        CloseHandleOnce(&p.in);
        CloseHandleOnce(&p.out);
        CloseHandleOnce(&p.err);
        return false;
    }
    CloseHandle(info.hThread);
    p.process = info.hProcess;
    *program = p;
    return true;
}

}  // namespace win32
}  // namespace platform
