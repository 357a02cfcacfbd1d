#include "ViewBuffers.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <utility>
#include <vector>

namespace ImageReader {
namespace ViewBuffers {

namespace {

constexpr size_t kKeepBytes = size_t(64) << 20;
constexpr size_t kKeepBlocks = 16;
// Smaller buffers come from the heap's own free lists, already touched.
constexpr size_t kPooledFrom = size_t(256) << 10;

struct Pool
{
    std::mutex lock;
    std::vector<std::pair<size_t, void*>> waiting; // capacity, block
    size_t bytes = 0;
};

// Never destroyed: slices may be released while static objects are torn down.
Pool& pool()
{
    static Pool* p = new Pool;
    return *p;
}

void giveBack(void* block, size_t capacity)
{
    Pool& p = pool();
    {
        const std::lock_guard<std::mutex> lock(p.lock);
        if (p.bytes + capacity <= kKeepBytes && p.waiting.size() < kKeepBlocks) {
            p.waiting.emplace_back(capacity, block);
            p.bytes += capacity;
            return;
        }
    }
    std::free(block);
}

} // namespace

void* Take(size_t bytes, std::shared_ptr<const void>& release)
{
    void* block = nullptr;
    size_t capacity = bytes;
    if (bytes >= kPooledFrom) {
        Pool& p = pool();
        const std::lock_guard<std::mutex> lock(p.lock);
        // The smallest waiting block that fits without wasting more than a quarter of it.
        size_t best = p.waiting.size();
        for (size_t i = 0; i < p.waiting.size(); ++i) {
            const size_t c = p.waiting[i].first;
            if (c >= bytes && c - bytes <= c / 4 && (best == p.waiting.size() || c < p.waiting[best].first))
                best = i;
        }
        if (best < p.waiting.size()) {
            capacity = p.waiting[best].first;
            block = p.waiting[best].second;
            p.waiting[best] = p.waiting.back();
            p.waiting.pop_back();
            p.bytes -= capacity;
        }
    }
    if (block)
        std::memset(block, 0, bytes);
    else
        block = std::calloc(bytes, 1);
    if (!block)
        return nullptr;
    try {
        if (bytes >= kPooledFrom)
            release = std::shared_ptr<const void>(block, [capacity](const void* b) { giveBack(const_cast<void*>(b), capacity); });
        else
            release = std::shared_ptr<const void>(block, [](const void* b) { std::free(const_cast<void*>(b)); });
    } catch (...) {
        std::free(block);
        return nullptr;
    }
    return block;
}

void Drop()
{
    std::vector<std::pair<size_t, void*>> dropped;
    {
        Pool& p = pool();
        const std::lock_guard<std::mutex> lock(p.lock);
        dropped.swap(p.waiting);
        p.bytes = 0;
    }
    for (const auto& d : dropped)
        std::free(d.second);
}

size_t Waiting()
{
    Pool& p = pool();
    const std::lock_guard<std::mutex> lock(p.lock);
    return p.bytes;
}

} // namespace ViewBuffers
} // namespace ImageReader
