#include <curl/curl.h>

#include <mutex>

#include "platform/UrlFetch.h"

namespace platform {
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

}  // namespace

FetchResult FetchUrl(const std::string& url, size_t maxBytes, int timeoutMs, const std::atomic<bool>* stop,
                     std::string* body, std::string* error) {
    static std::once_flag init;
    std::call_once(init, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    CURL* curl = curl_easy_init();
    if (!curl) return *error = "cannot start a transfer", FetchResult::kFailed;
    Transfer transfer{body, maxBytes, stop};
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeoutMs));
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(timeoutMs));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Append);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, Progress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    const CURLcode rc = curl_easy_perform(curl);
    curl_easy_cleanup(curl);
    if (transfer.tooLarge) return FetchResult::kTooLarge;
    if (rc != CURLE_OK) return *error = curl_easy_strerror(rc), FetchResult::kFailed;
    return FetchResult::kOk;
}

}  // namespace platform
