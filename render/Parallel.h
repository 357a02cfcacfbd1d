#pragma once

#include <cstddef>
#include <functional>

namespace ImageViewer {

// Processor cores, looked up once (the lookup reads sysfs); at least 1.
unsigned CoreCount();

// Runs `task` on the process's small thread pool (one thread per core, at least two, shared
// by every window and renderer) instead of a thread of its own. Tasks run with a stop token
// installed (ImageReader::StopScope) that is set when the process ends, so a long read on
// the pool gives up then instead of holding the exit. False when the pool is shutting down.
bool RunInBackground(std::function<void()> task);

// Calls f(begin, end) over [0, n) in blocks of `grain` (the last one shorter), on the caller's
// thread and up to parts - 1 helpers from the process's pool; returns once every block is done. Blocks go to
// whichever thread asks first, so a helper the system is slow to schedule delays nothing: the
// caller then does its blocks. A helper that cannot be started is done without. f must not
// throw; it is never called after ParallelFor has returned.
void ParallelFor(size_t n, size_t grain, size_t parts, const std::function<void(size_t, size_t)>& f);

} // namespace ImageViewer
