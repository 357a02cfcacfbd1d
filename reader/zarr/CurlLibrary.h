#pragma once

#include <curl/curl.h>

#include <string>

namespace ImageReader {

// libcurl, loaded on first use (a web address) instead of at every start: it and the
// libraries only it needs are about a quarter of those a start would load, and a sixth of
// its time.
struct CurlLibrary
{
#define LUMORA_CURL_FUNCTIONS(X)                                                                                      \
    X(global_init) X(easy_init) X(easy_setopt) X(easy_getinfo) X(easy_cleanup) X(easy_strerror) X(multi_init)        \
    X(multi_setopt) X(multi_add_handle) X(multi_remove_handle) X(multi_perform) X(multi_poll) X(multi_info_read)      \
    X(multi_cleanup) X(url) X(url_set) X(url_get) X(url_cleanup) X(free)
#define LUMORA_CURL_POINTER(name) decltype(&::curl_##name) name = nullptr;
    LUMORA_CURL_FUNCTIONS(LUMORA_CURL_POINTER)
#undef LUMORA_CURL_POINTER

    // Empty once loaded (and curl_global_init done), else why not.
    std::string error;

    // The one library, loaded by the first call (from any thread).
    static const CurlLibrary& Get();

private:
    CurlLibrary();
};

} // namespace ImageReader
