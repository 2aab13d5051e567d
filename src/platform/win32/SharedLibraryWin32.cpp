#include <windows.h>

#include "platform/SharedLibrary.h"

namespace platform {

std::string RunningProgramFolder() {
    char buffer[MAX_PATH * 4];
    const DWORD n = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
    if (n == 0 || n >= sizeof buffer) return ".";
    const std::string self(buffer, n);
    const size_t slash = self.find_last_of("\\/");
    return slash == std::string::npos ? "." : self.substr(0, slash);
}

std::string SharedLibraryFileName(const std::string& name) {
    return name + ".dll";
}

SharedLibrary::SharedLibrary(const std::string& path) {
    Open(path);
}

SharedLibrary::~SharedLibrary() {
    Close();
}

bool SharedLibrary::Open(const std::string& path) {
    Close();
    // No error box for a library that cannot be found or loaded: the caller reports it.
    const UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    handle_ = LoadLibraryA(path.c_str());
    const DWORD code = GetLastError();
    SetErrorMode(previous);
    if (handle_ == nullptr) {
        char* text = nullptr;
        FormatMessageA(
            FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
            nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
        std::string reason = text ? text : "the library could not be loaded";
        if (text) LocalFree(text);
        while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r')) reason.pop_back();
        error_ = path + ": " + reason + " (error " + std::to_string(code) + ")";
        return false;
    }
    error_.clear();
    return true;
}

bool SharedLibrary::LoadedInProcess(const std::string& path) {
    return GetModuleHandleA(path.c_str()) != nullptr;
}

void SharedLibrary::Close() {
    if (handle_ != nullptr) FreeLibrary(static_cast<HMODULE>(handle_));
    handle_ = nullptr;
}

void* SharedLibrary::Symbol(const char* name) const {
    if (handle_ == nullptr || name == nullptr) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

}  // namespace platform
