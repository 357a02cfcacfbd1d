#pragma once

#include <cstddef>

namespace ImageViewer {

// The slice cache's memory budget in bytes: the command line's --cache-mb if given, else the
// preferences' "cacheBudgetMB" (MiB, 0 = default), else a quarter of physical memory.
size_t CacheBudgetBytes();
// Set from the command line; 0 clears it.
void SetCacheBudgetOverrideMB(size_t mib);

} // namespace ImageViewer
