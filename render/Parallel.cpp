#include "Parallel.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace ImageViewer {

unsigned CoreCount()
{
    static const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    return cores;
}

namespace {

// Shared with the helpers, which may outlive the call (detached): they only touch f for a
// block they claimed, and the call waits for every claimed block.
struct Blocks
{
    std::function<void(size_t, size_t)> f;
    size_t n = 0;
    size_t grain = 1;
    size_t count = 0;
    std::atomic<size_t> next{0};
    std::mutex lock;
    std::condition_variable allDone;
    size_t done = 0;

    void Work()
    {
        size_t mine = 0;
        for (size_t b; (b = next.fetch_add(1)) < count; ++mine)
            f(b * grain, std::min(n, (b + 1) * grain));
        if (mine == 0)
            return;
        const std::lock_guard<std::mutex> hold(lock);
        done += mine;
        if (done == count)
            allDone.notify_all();
    }
};

} // namespace

void ParallelFor(size_t n, size_t grain, size_t parts, const std::function<void(size_t, size_t)>& f)
{
    grain = std::max<size_t>(grain, 1);
    const size_t count = (n + grain - 1) / grain;
    parts = std::min(parts, count);
    if (parts <= 1) {
        f(0, n);
        return;
    }
    auto blocks = std::make_shared<Blocks>();
    blocks->f = f;
    blocks->n = n;
    blocks->grain = grain;
    blocks->count = count;
    for (size_t p = 1; p < parts; ++p) {
        try {
            std::thread([blocks] { blocks->Work(); }).detach();
        } catch (const std::system_error&) {
            break;
        }
    }
    blocks->Work();
    std::unique_lock<std::mutex> hold(blocks->lock);
    blocks->allDone.wait(hold, [&] { return blocks->done == blocks->count; });
}

} // namespace ImageViewer
