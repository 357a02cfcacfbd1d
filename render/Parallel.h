#pragma once

#include <cstddef>
#include <functional>

namespace ImageViewer {

// Processor cores, looked up once (the lookup reads sysfs); at least 1.
unsigned CoreCount();

// Calls f(begin, end) over [0, n) cut into up to `parts` ranges whose bounds are multiples of
// `grain` (but the last), the first range on the caller's thread and each other on a thread
// of its own; returns when all are done. A range whose thread cannot be started runs on the
// caller's thread instead. f must not throw.
void ParallelFor(size_t n, size_t grain, size_t parts, const std::function<void(size_t, size_t)>& f);

} // namespace ImageViewer
