#include <dlfcn.h>
#include <unistd.h>

#include "platform/SharedLibrary.h"

namespace platform {

std::string RunningProgramFolder() {
    char buffer[4096];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return ".";
    const std::string self(buffer, static_cast<size_t>(n));
    const size_t slash = self.rfind('/');
    if (slash == std::string::npos) return ".";
    return self.substr(0, slash == 0 ? 1 : slash);
}

std::string SharedLibraryFileName(const std::string& name) {
    return "lib" + name + ".so";
}

SharedLibrary::SharedLibrary(const std::string& path) {
    Open(path);
}

SharedLibrary::~SharedLibrary() {
    Close();
}

bool SharedLibrary::Open(const std::string& path) {
    Close();
    // Local binding keeps the library's symbols out of the process's global scope, as a host that loads
    // several plug-ins side by side needs.
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        const char* text = dlerror();
        error_ = text ? text : "the library could not be loaded";
        return false;
    }
    error_.clear();
    return true;
}

bool SharedLibrary::LoadedInProcess(const std::string& path) {
    void* handle = dlopen(path.c_str(), RTLD_LAZY | RTLD_LOCAL | RTLD_NOLOAD);
    // The look-up took a reference of its own.
    if (handle != nullptr) dlclose(handle);
    return handle != nullptr;
}

void SharedLibrary::Close() {
    if (handle_ != nullptr) dlclose(handle_);
    handle_ = nullptr;
}

void* SharedLibrary::Symbol(const char* name) const {
    if (handle_ == nullptr || name == nullptr) return nullptr;
    return dlsym(handle_, name);
}

}  // namespace platform
