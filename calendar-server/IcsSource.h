// One iCalendar source of a location (a file, or an http://, https:// or webcal:// URL), read by its own
// thread: at start, when the file changes and every few minutes. A read that fails or a text that is not a
// calendar keeps the last good calendar and says why; requests never wait for a read.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "IcsCalendar.h"
#include "SunTimes.h"

namespace calendar_server {

class IcsSource {
public:
    struct Options {
        int rereadMs = 5 * 60 * 1000;
        int timeoutMs = 20000;                // a whole transfer from a URL
        size_t maxBytes = 32u * 1024 * 1024;  // a larger calendar is refused
        int pollMs = 1000;                    // how often a file is looked at for a change
        int indexDays = 31;                   // days after today expanded ahead of requests
        std::optional<Coordinates> place;     // the location's, for events that follow the sun
    };
    // `note` takes one line for the operator; `read` is told of every newly read calendar and its text.
    using Note = std::function<void(const std::string&)>;
    using Read = std::function<void(const std::string& text, const IcsCalendar& calendar)>;

    IcsSource(int64_t location, std::string source, Options options, Note note, Read read);
    ~IcsSource();
    IcsSource(const IcsSource&) = delete;
    IcsSource& operator=(const IcsSource&) = delete;

    // A copy kept from an earlier run, served until the source itself has been read.
    void Preload(const std::string& text);
    void Start();
    // Waits at most `ms` for the first read to end (however it ended).
    void WaitFirstRead(int ms);
    void Stop();

    std::shared_ptr<const IcsCalendar> Current() const;
    // A request reached up to `to` beyond the occurrences kept ready: they are made ready that far on
    // the next look at the source (up to a limit).
    void Requested(uint64_t to);
    const std::string& source() const { return source_; }
    bool IsUrl() const;
    // The URL a transfer asks for.
    std::string TransferUrl() const;

private:
    void Run();
    void Attempt();
    bool Fetch(std::string* text, std::string* error);
    std::string Stamp() const;
    void Reindex();
    // Where the notes of expansions after a read go.
    IcsCalendar::Note Later() const;
    const Coordinates* Place() const { return options_.place ? &*options_.place : nullptr; }
    void IndexWindow(uint64_t* from, uint64_t* to) const;

    const int64_t location_;
    const std::string source_;
    const Options options_;
    Note note_;
    Read read_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::shared_ptr<const IcsCalendar> current_;
    std::string goodText_;
    uint64_t wantedTo_ = 0;
    bool firstDone_ = false;
    std::atomic<bool> stop_{false};
    std::string stamp_;
    std::thread thread_;
};

}  // namespace calendar_server
