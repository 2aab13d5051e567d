#include <dlfcn.h>

#include "platform/ModuleLifetime.h"

namespace platform {

void PinOwnLibrary() {
    Dl_info info;
    if (dladdr(reinterpret_cast<void*>(&PinOwnLibrary), &info) == 0 || info.dli_fname == nullptr) return;
    // A reference that is never dropped, on a library that is never unloaded (null for the program
    // itself, which is never unloaded anyway).
    dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
}

}  // namespace platform
