#pragma once

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace ImageReader {

namespace Detail {
inline std::atomic<bool> allowOutsideData{false};
}

// Whether a file may name data outside its own folder (an ICS version 2 header's source
// file in another folder, or reached through "../"). Off by default, so that rendering a
// file from an untrusted source cannot read out other files of the machine; on by
// SetAllowOutsideData(true) or the environment variable LUMORA_ALLOW_OUTSIDE_DATA=1.
inline bool AllowOutsideData()
{
    if (Detail::allowOutsideData.load(std::memory_order_relaxed))
        return true;
    const char* env = std::getenv("LUMORA_ALLOW_OUTSIDE_DATA");
    return env && std::strcmp(env, "1") == 0;
}

inline void SetAllowOutsideData(bool allow)
{
    Detail::allowOutsideData.store(allow, std::memory_order_relaxed);
}

} // namespace ImageReader
