#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/Files.h"

namespace platform {

std::string FileChangeStamp(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return "missing";
    char text[128];
    std::snprintf(text, sizeof text, "%llu:%llu:%lld:%lld.%09ld", static_cast<unsigned long long>(st.st_dev),
                  static_cast<unsigned long long>(st.st_ino), static_cast<long long>(st.st_size),
                  static_cast<long long>(st.st_mtim.tv_sec), st.st_mtim.tv_nsec);
    return text;
}

FileState QueryFile(const std::string& path, uint64_t* size, std::string* error) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        if (errno == ENOENT) return FileState::kMissing;
        *error = std::strerror(errno);
        return FileState::kUnreadable;
    }
    *size = static_cast<uint64_t>(st.st_size);
    return FileState::kPresent;
}

bool PlaceFileIfAbsent(const std::string& from, const std::string& to, std::string* error) {
    // Linked rather than renamed: a link never replaces what is there.
    if (link(from.c_str(), to.c_str()) == 0) return true;
    const int linkError = errno;
    // A file system without hard links: moved instead, the path having been free a moment ago.
    if (linkError != EEXIST && std::rename(from.c_str(), to.c_str()) == 0) return true;
    *error = std::strerror(linkError == EEXIST ? linkError : errno);
    return false;
}

bool ReplaceFileWhole(const std::string& path, const std::string& bytes) {
    const std::string temp = path + ".tmp";
    FILE* f = std::fopen(temp.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = std::fflush(f) == 0 && ok;
    ok = fsync(fileno(f)) == 0 && ok;
    ok = std::fclose(f) == 0 && ok;
    if (!ok || std::rename(temp.c_str(), path.c_str()) != 0) {
        std::remove(temp.c_str());
        return false;
    }
    return true;
}

}  // namespace platform
