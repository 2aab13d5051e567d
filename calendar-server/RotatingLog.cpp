#include "RotatingLog.h"

#include <filesystem>
#include <system_error>

namespace calendar_server {
namespace {

// A line longer than this (no line end in sight) is written in pieces rather than held.
constexpr size_t kLongestLine = 64 * 1024;

}  // namespace

RotatingLog::RotatingLog(std::string path, uint64_t maxBytes) : path_(std::move(path)), maxBytes_(maxBytes) {
    std::error_code error;
    const auto size = std::filesystem::file_size(path_, error);
    size_ = error ? 0 : size;
    file_.open(path_, std::ios::binary | std::ios::app);
}

RotatingLog::int_type RotatingLog::overflow(int_type c) {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    const char ch = traits_type::to_char_type(c);
    Append(&ch, 1);
    return c;
}

std::streamsize RotatingLog::xsputn(const char* s, std::streamsize n) {
    Append(s, static_cast<size_t>(n));
    return n;
}

int RotatingLog::sync() {
    std::lock_guard<std::mutex> lock(mutex_);
    file_.flush();
    return 0;
}

void RotatingLog::Append(const char* s, size_t n) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto line = pending_.find(std::this_thread::get_id());
    if (line == pending_.end()) line = pending_.emplace(std::this_thread::get_id(), std::string()).first;
    for (size_t i = 0; i < n; ++i) {
        line->second.push_back(s[i]);
        if (s[i] == '\n' || line->second.size() >= kLongestLine) WritePending(&line->second);
    }
    // Only threads in the middle of a line keep an entry.
    if (line->second.empty()) pending_.erase(line);
}

void RotatingLog::WritePending(std::string* line) {
    if (size_ > 0 && size_ + line->size() > maxBytes_) {
        file_.close();
        const std::string previous = path_ + ".1";
        std::error_code error;
        // Removed first: a rename onto an existing file fails on some systems.
        std::filesystem::remove(previous, error);
        std::filesystem::rename(path_, previous, error);
        // Renaming failed (the file held open elsewhere): begin again in place rather than grow.
        file_.open(path_, std::ios::binary | (error ? std::ios::trunc : std::ios::app));
        size_ = 0;
    }
    if (file_.is_open()) {
        file_.write(line->data(), static_cast<std::streamsize>(line->size()));
        file_.flush();
        if (file_) size_ += line->size();
        file_.clear();
    }
    line->clear();
}

}  // namespace calendar_server
