// The plug-in's resources as the platform's loader keeps them in the module. Found resources are handed
// out as copies with a NUL after the data (compiled resources carry none), so texts can be read in place as
// on the other platforms; each copy is made once and kept while the library stays loaded.
#include <windows.h>
// The platform's macro would rename the portable FindResource declared below.
#undef FindResource

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "platform/Resources.h"

namespace platform {
namespace {

struct Entry {
    std::vector<unsigned char> bytes;  // the data and a NUL
    Resource resource{};
};

using Key = std::tuple<HMODULE, int, int, std::string, std::string>;

std::mutex g_mutex;
std::map<Key, std::unique_ptr<Entry>> g_entries;

HMODULE Module(ModuleHandle module) {
    return static_cast<HMODULE>(module != nullptr ? module : OwnModule());
}

const Resource* Keep(const Key& key, const void* data, size_t size, int type, int id, const char* typeName,
                     const char* name) {
    std::lock_guard<std::mutex> lock(g_mutex);
    auto found = g_entries.find(key);
    if (found != g_entries.end()) return &found->second->resource;
    auto entry = std::make_unique<Entry>();
    entry->bytes.resize(size + 1);
    if (size > 0) std::memcpy(entry->bytes.data(), data, size);
    entry->bytes[size] = 0;
    const Key& stored = g_entries.emplace(key, nullptr).first->first;
    entry->resource = Resource{type,
                               id,
                               typeName ? std::get<3>(stored).c_str() : nullptr,
                               name ? std::get<4>(stored).c_str() : nullptr,
                               entry->bytes.data(),
                               size};
    Resource* resource = &entry->resource;
    g_entries[key] = std::move(entry);
    return resource;
}

bool Load(HMODULE module, HRSRC found, const void** data, size_t* size) {
    if (found == nullptr) return false;
    HGLOBAL loaded = LoadResource(module, found);
    if (loaded == nullptr) return false;
    *data = LockResource(loaded);
    *size = SizeofResource(module, found);
    return *data != nullptr || *size == 0;
}

// One string of a string table: blocks of sixteen counted UTF-16 strings, block id / 16 + 1. Handed out in
// the ANSI code page, as the framework's texts are.
bool LoadTableString(HMODULE module, int id, std::string* text) {
    if (id < 0 || id > 0xFFFF) return false;
    const void* data = nullptr;
    size_t size = 0;
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id / 16 + 1), MAKEINTRESOURCEA(6));
    if (!Load(module, found, &data, &size)) return false;
    const WCHAR* p = static_cast<const WCHAR*>(data);
    const WCHAR* end = p + size / sizeof(WCHAR);
    for (int index = 0; index < id % 16; ++index) {
        if (p >= end || end - p - 1 < *p) return false;
        p += 1 + *p;
    }
    if (p >= end || end - p - 1 < *p || *p == 0) return false;
    const int length = *p;
    const int bytes = WideCharToMultiByte(CP_ACP, 0, p + 1, length, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return false;
    text->resize(static_cast<size_t>(bytes));
    WideCharToMultiByte(CP_ACP, 0, p + 1, length, &(*text)[0], bytes, nullptr, nullptr);
    return true;
}

// The compiled version block read back into the "Key=Value" lines of the portable form: the texts of its
// first language block, in the order of the keys below.
bool ReadVersionBlock(const void* data, size_t size, std::string* text) {
    // The platform reads the block only from writable memory it owns.
    std::vector<unsigned char> copy(static_cast<const unsigned char*>(data),
                                    static_cast<const unsigned char*>(data) + size);
    struct Translation {
        WORD language;
        WORD codePage;
    };
    Translation* translation = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(copy.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                        &length) ||
        length < sizeof(Translation)) {
        return false;
    }
    static const char* const kKeys[] = {"FileVersion",  "ProductVersion",  "CompanyName",
                                        "ProductName",  "FileDescription", "OriginalFilename",
                                        "InternalName", "LegalCopyright",  "LegalTrademarks",
                                        "Comments",     "PrivateBuild",    "SpecialBuild"};
    char block[64];
    text->clear();
    for (const char* key : kKeys) {
        std::snprintf(block, sizeof block, "\\StringFileInfo\\%04x%04x\\%s", translation->language,
                      translation->codePage, key);
        char* value = nullptr;
        UINT chars = 0;
        if (!VerQueryValueA(copy.data(), block, reinterpret_cast<void**>(&value), &chars) || value == nullptr)
            continue;
        *text += key;
        *text += '=';
        *text += value;
        *text += '\n';
    }
    return !text->empty();
}

}  // namespace

// The module holding this code: the plug-in's DLL inside a host, a test program's own file in the tests.
ModuleHandle OwnModule() {
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&OwnModule), &module);
    return module;
}

const Resource* FindResource(ModuleHandle module, int type, int id) {
    if (type <= 0 || id <= 0 || id > 0xFFFF) return nullptr;
    HMODULE hmodule = Module(module);
    const Key key{hmodule, type, id, std::string(), std::string()};
    if (type == kResourceString) {
        std::string text;
        if (!LoadTableString(hmodule, id, &text)) return nullptr;
        return Keep(key, text.data(), text.size(), type, id, nullptr, nullptr);
    }
    const void* data = nullptr;
    size_t size = 0;
    if (!Load(hmodule, FindResourceA(hmodule, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(type)), &data, &size))
        return nullptr;
    if (type == kResourceVersion) {
        std::string text;
        if (!ReadVersionBlock(data, size, &text)) return nullptr;
        return Keep(key, text.data(), text.size(), type, id, nullptr, nullptr);
    }
    return Keep(key, data, size, type, id, nullptr, nullptr);
}

const Resource* FindNamedResource(ModuleHandle module, const char* typeName, const char* name) {
    if (typeName == nullptr || name == nullptr || *typeName == '\0' || *name == '\0') return nullptr;
    HMODULE hmodule = Module(module);
    const void* data = nullptr;
    size_t size = 0;
    if (!Load(hmodule, FindResourceA(hmodule, name, typeName), &data, &size)) return nullptr;
    return Keep(Key{hmodule, kResourceNamed, 0, typeName, name}, data, size, kResourceNamed, 0, typeName,
                name);
}

int LoadStringResource(ModuleHandle module, int id, char* buffer, int size) {
    if (buffer == nullptr || size <= 0) return 0;
    buffer[0] = '\0';
    const Resource* r = FindResource(module, kResourceString, id);
    if (r == nullptr || r->size == 0) return 0;
    size_t n = r->size;
    if (n > static_cast<size_t>(size - 1)) n = static_cast<size_t>(size - 1);
    std::memcpy(buffer, r->data, n);
    buffer[n] = '\0';
    return static_cast<int>(n);
}

}  // namespace platform
