#include "PageAssets.h"

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

void Serve(const PageFile& file, const httplib::Request& req, httplib::Response& res) {
    // Revalidated on every load: a cheap 304 while the program is the same, the new files after an upgrade.
    res.set_header("Cache-Control", "no-cache");
    res.set_header("ETag", file.etag);
    res.set_header("X-Content-Type-Options", "nosniff");
    // Nothing but the server itself: no other site's scripts, frames or requests. The calendar view adds
    // its styles at run time, hence inline styles, and its icons as an embedded font.
    res.set_header(
        "Content-Security-Policy",
        "default-src 'self'; style-src 'self' 'unsafe-inline'; img-src 'self' data:; font-src 'self' data:; "
        "frame-ancestors 'none'; base-uri 'none'; form-action 'none'");
    res.set_header("Referrer-Policy", "no-referrer");
    if (req.get_header_value("If-None-Match") == file.etag) {
        res.status = 304;
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
