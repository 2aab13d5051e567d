// The plan page: its files, embedded in the program at build time, served at "/" and under "/page/".
#pragma once

#include <httplib.h>

#include <cstddef>

namespace calendar_server {

struct PageFile {
    const char* path;  // as served, "/page/app.js"
    const char* contentType;
    const char* etag;  // quoted, as sent
    const unsigned char* data;
    size_t size;
    const unsigned char* gzip;  // the same bytes gzip-compressed, or null when served only as they are
    size_t gzipSize;
};
// The embedded files, ended by an entry whose path is null.
const PageFile* EmbeddedPageFiles();

// The page's routes: "/" answers the page itself, "/page/NAME" its scripts and styles.
void RegisterPage(httplib::Server& server);

}  // namespace calendar_server
