// Reads one whole document from an http:// or https:// URL, following redirects, for the calendar server's
// URL sources: libcurl on POSIX, the platform's HTTP backend (WinHTTP) on Windows.
#pragma once

#include <atomic>
#include <cstddef>
#include <string>

namespace platform {

enum class FetchResult { kOk, kTooLarge, kFailed };

// The body of a successful answer (a status of 400 or more is a failure) into *body, at most maxBytes of
// it; the whole transfer ends after timeoutMs, or soon after *stop becomes true. *error says why it failed.
FetchResult FetchUrl(const std::string& url, size_t maxBytes, int timeoutMs, const std::atomic<bool>* stop,
                     std::string* body, std::string* error);

}  // namespace platform
