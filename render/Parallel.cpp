#include "Parallel.h"

#include <algorithm>
#include <system_error>
#include <thread>
#include <vector>

namespace ImageViewer {

unsigned CoreCount()
{
    static const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    return cores;
}

void ParallelFor(size_t n, size_t grain, size_t parts, const std::function<void(size_t, size_t)>& f)
{
    grain = std::max<size_t>(grain, 1);
    const size_t grains = (n + grain - 1) / grain;
    parts = std::max<size_t>(1, std::min(parts, grains));
    const auto bound = [&](size_t p) { return std::min(n, grains * p / parts * grain); };
    std::vector<std::thread> helpers;
    helpers.reserve(parts - 1);
    for (size_t p = 1; p < parts; ++p) {
        try {
            helpers.emplace_back(f, bound(p), bound(p + 1));
        } catch (const std::system_error&) {
            f(bound(p), bound(p + 1));
        }
    }
    f(bound(0), bound(1));
    for (std::thread& t : helpers)
        t.join();
}

} // namespace ImageViewer
