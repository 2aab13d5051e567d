// The few file operations the calendar server needs beyond reading and writing a stream: a file's change
// stamp, putting a finished file in place whole, and replacing one whole. Paths are UTF-8.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// A text that changes whenever the file's content may have (its identity, size and modification time);
// "missing" when the file cannot be looked at.
std::string FileChangeStamp(const std::string& path);

enum class FileState { kMissing, kPresent, kUnreadable };
// Whether a file is at the path, with its size; *error says why it could not be looked at.
FileState QueryFile(const std::string& path, uint64_t* size, std::string* error);

// Puts the finished file `from` at `to` only if nothing is there yet; a file another process put at `to`
// meanwhile is kept. `from` may remain afterwards; the caller removes it. False with the reason otherwise.
bool PlaceFileIfAbsent(const std::string& from, const std::string& to, std::string* error);

// Writes the bytes to a file beside `path`, flushes them to the disk, and moves that file over `path`: a
// reader sees the old file or the new one, never a part, and a crash leaves one of them.
bool ReplaceFileWhole(const std::string& path, const std::string& bytes);

}  // namespace platform
