#include "PageAssets.h"

#include <cctype>
#include <cstring>
#include <string>

namespace calendar_server {
namespace {

const PageFile* Find(const std::string& path) {
    for (const PageFile* f = EmbeddedPageFiles(); f->path; ++f) {
        if (path == f->path) return f;
    }
    return nullptr;
}

// Whether the client takes gzip: a "gzip" coding in its Accept-Encoding, not refused with q=0.
bool TakesGzip(const std::string& accepted) {
    size_t begin = 0;
    while (begin < accepted.size()) {
        size_t end = accepted.find(',', begin);
        if (end == std::string::npos) end = accepted.size();
        std::string coding;
        for (size_t i = begin; i < end; ++i) {
            if (accepted[i] != ' ' && accepted[i] != '\t')
                coding += static_cast<char>(std::tolower(static_cast<unsigned char>(accepted[i])));
        }
        const size_t params = coding.find(';');
        if (coding.compare(0, params, "gzip") == 0) {
            const std::string q = params == std::string::npos ? "" : coding.substr(params + 1);
            return q.compare(0, 2, "q=") != 0 || q.find_first_not_of("0.", 2) != std::string::npos;
        }
        begin = end + 1;
    }
    return false;
}

void Serve(const PageFile& file, const httplib::Request& req, httplib::Response& res) {
    const bool packed = file.gzip && TakesGzip(req.get_header_value("Accept-Encoding"));
    // Each coding has its own tag, so a copy is never revalidated as the other.
    std::string etag = file.etag;
    if (packed) etag.insert(etag.size() - 1, "-gz");
    // Revalidated on every load: a cheap 304 while the program is the same, the new files after an upgrade.
    res.set_header("Cache-Control", "no-cache");
    res.set_header("ETag", etag);
    if (file.gzip) res.set_header("Vary", "Accept-Encoding");
    res.set_header("X-Content-Type-Options", "nosniff");
    // Nothing but the server itself: no other site's scripts, frames or requests. The calendar view adds
    // its styles at run time, hence inline styles, and its icons as an embedded font.
    res.set_header(
        "Content-Security-Policy",
        "default-src 'self'; style-src 'self' 'unsafe-inline'; img-src 'self' data:; font-src 'self' data:; "
        "frame-ancestors 'none'; base-uri 'none'; form-action 'none'");
    res.set_header("Referrer-Policy", "no-referrer");
    if (req.get_header_value("If-None-Match") == etag) {
        res.status = 304;
        return;
    }
    if (packed) {
        res.set_header("Content-Encoding", "gzip");
        res.set_content(reinterpret_cast<const char*>(file.gzip), file.gzipSize, file.contentType);
        return;
    }
    res.set_content(reinterpret_cast<const char*>(file.data), file.size, file.contentType);
}

}  // namespace

void RegisterPage(httplib::Server& server) {
    auto handler = [](const char* path) {
        return [path](const httplib::Request& req, httplib::Response& res) {
            const PageFile* file = Find(path ? path : req.path);
            if (!file) {
                res.status = 404;
                return;
            }
            Serve(*file, req, res);
        };
    };
    server.Get("/", handler("/page/index.html"));
    server.Get(R"(/page/[A-Za-z0-9._-]+)", handler(nullptr));
}

}  // namespace calendar_server
