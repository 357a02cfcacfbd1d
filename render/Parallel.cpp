#include "Parallel.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "StopToken.h"

namespace ImageViewer {

unsigned CoreCount()
{
    static const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    return cores;
}

namespace {

class Pool
{
public:
    Pool()
    {
        const unsigned count = std::max(2u, CoreCount());
        for (unsigned i = 0; i < count; ++i) {
            try {
                m_threads.emplace_back([this] { run(); });
            } catch (const std::system_error&) {
                break;
            }
        }
    }
    ~Pool()
    {
        {
            const std::lock_guard<std::mutex> lock(m_lock);
            m_stopping = true;
            m_tasks.clear();
        }
        m_stop.RequestStop();
        m_wake.notify_all();
        for (std::thread& t : m_threads)
            t.join();
    }
    bool Post(std::function<void()> task)
    {
        {
            const std::lock_guard<std::mutex> lock(m_lock);
            if (m_stopping || m_threads.empty())
                return false;
            m_tasks.push_back(std::move(task));
        }
        m_wake.notify_one();
        return true;
    }

private:
    void run()
    {
        const ImageReader::StopScope scope(&m_stop);
        std::unique_lock<std::mutex> lock(m_lock);
        for (;;) {
            m_wake.wait(lock, [this] { return m_stopping || !m_tasks.empty(); });
            if (m_stopping)
                return;
            std::function<void()> task = std::move(m_tasks.front());
            m_tasks.pop_front();
            lock.unlock();
            task();
            task = nullptr;
            lock.lock();
        }
    }

    std::mutex m_lock;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_tasks;
    bool m_stopping = false;
    ImageReader::StopToken m_stop;
    std::vector<std::thread> m_threads;
};

Pool& pool()
{
    static Pool instance;
    return instance;
}

// Shared with the helpers, which may run after the call has returned (a helper the pool
// starts late finds no block left): they only touch f for a block they claimed, and the
// call waits for every claimed block.
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

bool RunInBackground(std::function<void()> task)
{
    return pool().Post(std::move(task));
}

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
    for (size_t p = 1; p < parts; ++p)
        if (!pool().Post([blocks] { blocks->Work(); }))
            break;
    blocks->Work();
    std::unique_lock<std::mutex> hold(blocks->lock);
    blocks->allDone.wait(hold, [&] { return blocks->done == blocks->count; });
}

} // namespace ImageViewer
