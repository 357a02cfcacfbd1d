#include "CurlLibrary.h"

#include <dlfcn.h>

namespace ImageReader {

CurlLibrary::CurlLibrary()
{
    // Kept loaded for the life of the process: handles and threads may outlive any owner.
    void* handle = dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* why = dlerror();
        error = std::string("web addresses need libcurl.so.4, which cannot be loaded") + (why ? std::string(" (") + why + ")" : "");
        return;
    }
#define LUMORA_CURL_LOOKUP(name)                                                         \
    name = reinterpret_cast<decltype(name)>(dlsym(handle, "curl_" #name));              \
    if (!name) {                                                                         \
        error = "libcurl.so.4 has no curl_" #name;                                       \
        return;                                                                          \
    }
    LUMORA_CURL_FUNCTIONS(LUMORA_CURL_LOOKUP)
#undef LUMORA_CURL_LOOKUP
    if (global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK)
        error = "libcurl cannot start";
}

const CurlLibrary& CurlLibrary::Get()
{
    static const CurlLibrary library;
    return library;
}

} // namespace ImageReader
