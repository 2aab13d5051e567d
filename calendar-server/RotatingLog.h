// The service's log file: it cannot grow without bound. Once the next line would take it past its size it
// becomes FILE.1 (replacing the one before) and a new FILE begins, so at most twice the size is kept. Lines
// are written whole, each as it ends, from any thread.
#pragma once

#include <cstdint>
#include <fstream>
#include <map>
#include <mutex>
#include <streambuf>
#include <string>
#include <thread>

namespace calendar_server {

class RotatingLog : public std::streambuf {
public:
    RotatingLog(std::string path, uint64_t maxBytes);
    // Whether the file could be opened; a log that cannot be written drops its lines, never the server.
    bool ok() const { return file_.is_open(); }

protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* s, std::streamsize n) override;
    int sync() override;

private:
    void Append(const char* s, size_t n);
    void WritePending(std::string* line);

    const std::string path_;
    const uint64_t maxBytes_;
    std::mutex mutex_;
    std::ofstream file_;
    uint64_t size_ = 0;
    // The line each thread has begun: the pieces of one line never mix with another thread's.
    std::map<std::thread::id, std::string> pending_;
};

}  // namespace calendar_server
