#include "IcsSource.h"

#include <curl/curl.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "platform/Clock.h"

namespace calendar_server {
namespace {

struct Transfer {
    std::string* text;
    size_t maxBytes;
    const std::atomic<bool>* stop;
    bool tooLarge = false;
};

size_t Append(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const size_t n = size * count;
    if (t->text->size() + n > t->maxBytes) {
        t->tooLarge = true;
        return 0;
    }
    t->text->append(data, n);
    return n;
}

int Progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<Transfer*>(user)->stop->load() ? 1 : 0;
}

// Requests may widen the window kept ready this far ahead of today.
constexpr uint64_t kMostDaysAhead = 100;
// Lines about skipped or cut events kept for the operator's page.
constexpr size_t kKeptSkipped = 10;

}  // namespace

IcsSource::IcsSource(int64_t location, std::string source, Options options, Note note, Read read)
    : location_(location),
      source_(std::move(source)),
      options_(options),
      note_(std::move(note)),
      read_(std::move(read)) {
    health_->health.periodMs = options_.rereadMs;
}

void IcsSource::HealthState::Skipped(const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex);
    health.skipped.push_back(line);
    while (health.skipped.size() > kKeptSkipped) health.skipped.pop_front();
}

IcsSource::Health IcsSource::health() const {
    std::lock_guard<std::mutex> lock(health_->mutex);
    return health_->health;
}

IcsSource::~IcsSource() {
    Stop();
}

bool IcsSource::IsUrl() const {
    return source_.rfind("http://", 0) == 0 || source_.rfind("https://", 0) == 0;
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
    struct stat st {};
    if (stat(source_.c_str(), &st) != 0) return "missing";
    char text[128];
    std::snprintf(text, sizeof text, "%llu:%llu:%lld:%lld.%09ld", static_cast<unsigned long long>(st.st_dev),
                  static_cast<unsigned long long>(st.st_ino), static_cast<long long>(st.st_size),
                  static_cast<long long>(st.st_mtim.tv_sec), st.st_mtim.tv_nsec);
    return text;
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
    static std::once_flag init;
    std::call_once(init, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    CURL* curl = curl_easy_init();
    if (!curl) return *error = "cannot start a transfer", false;
    Transfer transfer{text, options_.maxBytes, &stop_};
    curl_easy_setopt(curl, CURLOPT_URL, source_.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(options_.timeoutMs));
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(options_.timeoutMs));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Append);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, Progress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    const CURLcode rc = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_cleanup(curl);
    // The operator is told the status rather than that one came.
    if (rc == CURLE_HTTP_RETURNED_ERROR && status > 0)
        return *error = "the server answered " + std::to_string(status), false;
    if (transfer.tooLarge) return *error = "larger than the limit of the calendar size", false;
    if (rc != CURLE_OK) return *error = curl_easy_strerror(rc), false;
    return true;
}

void IcsSource::Attempt() {
    std::string text, error;
    const uint64_t attempt = platform::LocalInstantNow();
    const bool fetched = Fetch(&text, &error);
    // The outcome of this attempt, for the operator; an empty error is a success.
    auto outcome = [&](const std::string& failure) {
        std::lock_guard<std::mutex> lock(health_->mutex);
        health_->health.lastAttempt = attempt;
        health_->health.lastError = failure;
        if (failure.empty()) health_->health.lastSuccess = attempt;
    };
    std::string kept;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (fetched && current_ && text == goodText_) return outcome("");  // nothing new
        kept = current_ ? "; keeping the calendar read before" : "; no calendar to serve yet";
    }
    const std::string where = "location " + std::to_string(location_) + ": " + source_ + ": ";
    if (!fetched) return outcome(error), note_(where + error + kept);
    uint64_t from = 0, to = 0;
    IndexWindow(&from, &to);
    std::vector<std::string> notes;
    auto calendar = IcsCalendar::Parse(text, from, to, &notes, &error, Later(), &stop_, Place());
    if (stop_) return;  // expansion ended early: the calendar is not whole
    if (calendar) {
        // The skipped events of the last whole read, not of the reads before it.
        std::lock_guard<std::mutex> lock(health_->mutex);
        health_->health.skipped.clear();
    }
    for (const std::string& n : notes) {
        health_->Skipped(n);
        note_(where + n);
    }
    if (!calendar) return outcome(error), note_(where + error + kept);
    outcome("");
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
    std::shared_ptr<HealthState> health = health_;
    return [note, where, health](const std::string& line) {
        health->Skipped(line);
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
