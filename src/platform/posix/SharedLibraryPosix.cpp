#include <dlfcn.h>

#include "platform/SharedLibrary.h"

namespace platform {

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

void SharedLibrary::Close() {
    if (handle_ != nullptr) dlclose(handle_);
    handle_ = nullptr;
}

void* SharedLibrary::Symbol(const char* name) const {
    if (handle_ == nullptr || name == nullptr) return nullptr;
    return dlsym(handle_, name);
}

}  // namespace platform
