#include <windows.h>

#include <algorithm>
#include <cstdio>

#include "platform/Files.h"
#include "platform/win32/Win32Text.h"

namespace platform {
namespace {

std::wstring Wide(const std::string& text) {
    return Utf8ToWide(text);
}

std::string Reason(DWORD code) {
    const std::string message = SystemMessage(code);
    return message.empty() ? "error " + std::to_string(code) : message;
}

}  // namespace

std::string FileChangeStamp(const std::string& path) {
    // Opened for nothing but its attributes, sharing everything, so a writer is never in the way.
    HANDLE file = CreateFileW(Wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "missing";
    BY_HANDLE_FILE_INFORMATION info{};
    const BOOL ok = GetFileInformationByHandle(file, &info);
    ::CloseHandle(file);
    if (!ok) return "missing";
    char text[128];
    std::snprintf(text, sizeof text, "%lu:%lu.%lu:%lu.%lu:%lu.%lu", info.dwVolumeSerialNumber,
                  info.nFileIndexHigh, info.nFileIndexLow, info.nFileSizeHigh, info.nFileSizeLow,
                  info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime);
    return text;
}

FileState QueryFile(const std::string& path, uint64_t* size, std::string* error) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(Wide(path).c_str(), GetFileExInfoStandard, &data)) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND) return FileState::kMissing;
        *error = Reason(code);
        return FileState::kUnreadable;
    }
    *size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return FileState::kPresent;
}

bool PlaceFileIfAbsent(const std::string& from, const std::string& to, std::string* error) {
    // Without MOVEFILE_REPLACE_EXISTING the move fails when something is there already.
    if (MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_WRITE_THROUGH)) return true;
    *error = Reason(GetLastError());
    return false;
}

bool ReplaceFileWhole(const std::string& path, const std::string& bytes) {
    const std::wstring temp = Wide(path + ".tmp");
    HANDLE file =
        CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool ok = true;
    size_t done = 0;
    while (ok && done < bytes.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
        DWORD written = 0;
        ok = WriteFile(file, bytes.data() + done, chunk, &written, nullptr) && written == chunk;
        done += written;
    }
    ok = FlushFileBuffers(file) && ok;
    ok = ::CloseHandle(file) && ok;
    if (!ok ||
        !MoveFileExW(temp.c_str(), Wide(path).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileW(temp.c_str());
        return false;
    }
    return true;
}

}  // namespace platform
