#include "platform/Resources.h"

#include <cstring>

namespace platform {

ModuleHandle OwnModule() { return nullptr; }

const Resource* FindResource(ModuleHandle, int type, int id) {
    for (const Resource* r = EmbeddedResources(); r->type != 0; ++r) {
        if (r->type == type && r->name == nullptr && r->id == id) return r;
    }
    return nullptr;
}

const Resource* FindNamedResource(ModuleHandle, const char* typeName, const char* name) {
    if (!typeName || !name) return nullptr;
    for (const Resource* r = EmbeddedResources(); r->type != 0; ++r) {
        if (r->typeName && r->name && std::strcmp(r->typeName, typeName) == 0 && std::strcmp(r->name, name) == 0)
            return r;
    }
    return nullptr;
}

int LoadStringResource(ModuleHandle module, int id, char* buffer, int size) {
    if (!buffer || size <= 0) return 0;
    buffer[0] = '\0';
    const Resource* r = FindResource(module, kResourceString, id);
    if (!r || r->size == 0) return 0;
    size_t n = r->size;
    if (n > static_cast<size_t>(size - 1)) n = static_cast<size_t>(size - 1);
    std::memcpy(buffer, r->data, n);
    buffer[n] = '\0';
    return static_cast<int>(n);
}

}  // namespace platform
