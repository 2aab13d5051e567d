#include "IcsSource.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "platform/Clock.h"
#include "platform/Files.h"
#include "platform/UrlFetch.h"

namespace calendar_server {
namespace {

// Requests may widen the window kept ready this far ahead of today.
constexpr uint64_t kMostDaysAhead = 100;

}  // namespace

IcsSource::IcsSource(int64_t location, std::string source, Options options, Note note, Read read)
    : location_(location),
      source_(std::move(source)),
      options_(options),
      note_(std::move(note)),
      read_(std::move(read)) {}

IcsSource::~IcsSource() {
    Stop();
}

bool IcsSource::IsUrl() const {
    return source_.rfind("http://", 0) == 0 || source_.rfind("https://", 0) == 0 ||
           source_.rfind("webcal://", 0) == 0;
}

std::string IcsSource::TransferUrl() const {
    // Calendar apps hand out subscriptions as webcal://, which is plain https:// on the wire.
    if (source_.rfind("webcal://", 0) == 0) return "https://" + source_.substr(9);
    return source_;
}

void IcsSource::Preload(const std::string& text) {
    uint64_t from = 0, to = 0;
    IndexWindow(&from, &to);
    std::string error;
    auto calendar = IcsCalendar::Parse(text, from, to, nullptr, &error, Later(), &stop_, Place());
    if (!calendar) return;
    std::lock_guard<std::mutex> lock(mutex_);
    current_ = std::move(calendar);
    goodText_ = text;
}

void IcsSource::Start() {
    if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
}

void IcsSource::WaitFirstRead(int ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return firstDone_; });
}

void IcsSource::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

// Today's window of occurrences kept ready: yesterday (a request late in the evening may reach back) to
// a number of days ahead, or as far as requests have asked (within a limit).
void IcsSource::IndexWindow(uint64_t* from, uint64_t* to) const {
    const uint64_t now = platform::LocalInstantNow();
    const uint64_t today = now - now % platform::kTicksPerDay;
    *from = today - platform::kTicksPerDay;
    *to = today + static_cast<uint64_t>(options_.indexDays + 1) * platform::kTicksPerDay - 1;
    std::lock_guard<std::mutex> lock(mutex_);
    const uint64_t limit = today + (kMostDaysAhead + 1) * platform::kTicksPerDay - 1;
    if (wantedTo_ > *to) *to = std::min(wantedTo_, limit);
}

void IcsSource::Requested(uint64_t to) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (to <= wantedTo_) return;
        // Whole days, so that the window does not move with every request.
        wantedTo_ = to - to % platform::kTicksPerDay + platform::kTicksPerDay - 1;
    }
}

std::shared_ptr<const IcsCalendar> IcsSource::Current() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return current_;
}

void IcsSource::Run() {
    using Clock = std::chrono::steady_clock;
    Attempt();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        firstDone_ = true;
    }
    wake_.notify_all();
    auto next = Clock::now() + std::chrono::milliseconds(options_.rereadMs);
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait_for(lock, std::chrono::milliseconds(options_.pollMs), [this] { return stop_.load(); });
            if (stop_) return;
        }
        if (Clock::now() >= next || (!IsUrl() && Stamp() != stamp_)) {
            Attempt();
            next = Clock::now() + std::chrono::milliseconds(options_.rereadMs);
        }
        Reindex();
    }
}

// The identity of the file's current content as far as the file system tells it.
std::string IcsSource::Stamp() const {
    return platform::FileChangeStamp(source_);
}

bool IcsSource::Fetch(std::string* text, std::string* error) {
    if (!IsUrl()) {
        stamp_ = Stamp();
        FILE* f = std::fopen(source_.c_str(), "rb");
        if (!f) return *error = "cannot read the file", false;
        char buffer[65536];
        size_t n = 0;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0 && text->size() <= options_.maxBytes) {
            text->append(buffer, n);
        }
        const bool failed = std::ferror(f) != 0;
        std::fclose(f);
        if (failed) return *error = "cannot read the file", false;
        if (text->size() > options_.maxBytes)
            return *error = "larger than the limit of the calendar size", false;
        return true;
    }
    switch (platform::FetchUrl(TransferUrl(), options_.maxBytes, options_.timeoutMs, &stop_, text, error)) {
        case platform::FetchResult::kOk:
            return true;
        case platform::FetchResult::kTooLarge:
            return *error = "larger than the limit of the calendar size", false;
        case platform::FetchResult::kFailed:
            break;
    }
    return false;
}

void IcsSource::Attempt() {
    std::string text, error;
    const bool fetched = Fetch(&text, &error);
    std::string kept;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (fetched && current_ && text == goodText_) return;  // nothing new
        kept = current_ ? "; keeping the calendar read before" : "; no calendar to serve yet";
    }
    const std::string where = "location " + std::to_string(location_) + ": " + source_ + ": ";
    if (!fetched) return note_(where + error + kept);
    uint64_t from = 0, to = 0;
    IndexWindow(&from, &to);
    std::vector<std::string> notes;
    auto calendar = IcsCalendar::Parse(text, from, to, &notes, &error, Later(), &stop_, Place());
    if (stop_) return;  // expansion ended early: the calendar is not whole
    for (const std::string& n : notes) note_(where + n);
    if (!calendar) return note_(where + error + kept);
    note_(where + "read " + std::to_string(calendar->eventCount()) + " events");
    {
        std::lock_guard<std::mutex> lock(mutex_);
        current_ = calendar;
        goodText_ = text;
    }
    if (read_) read_(text, *calendar);
}

IcsCalendar::Note IcsSource::Later() const {
    const std::string where = "location " + std::to_string(location_) + ": " + source_ + ": ";
    Note note = note_;
    return [note, where](const std::string& line) {
        if (note) note(where + line);
    };
}

void IcsSource::Reindex() {
    auto calendar = Current();
    uint64_t from = 0, to = 0;
    IndexWindow(&from, &to);
    if (!calendar || (calendar->indexedFrom() == from && calendar->indexedTo() == to)) return;
    auto moved = calendar->Reindexed(from, to, &stop_);
    if (stop_) return;
    std::lock_guard<std::mutex> lock(mutex_);
    if (current_ == calendar) current_ = std::move(moved);
}

}  // namespace calendar_server
