#pragma once

#include <deque>
#include <functional>
#include <mutex>

namespace ImageViewer {

// How results of background work reach the thread that owns a model: the application posts
// to its event loop, tests to a queue they drain. Post may be called from any thread.
class Poster
{
public:
    virtual ~Poster() = default;
    virtual void Post(std::function<void()> task) = 0;
    // Runs what was posted so far on the calling (owning) thread.
    virtual void Drain() = 0;
};

// A queue drained by hand: the model's thread is whichever thread calls Drain.
class QueuePoster : public Poster
{
public:
    void Post(std::function<void()> task) override
    {
        const std::lock_guard<std::mutex> lock(m_lock);
        m_tasks.push_back(std::move(task));
    }
    void Drain() override
    {
        for (;;) {
            std::function<void()> task;
            {
                const std::lock_guard<std::mutex> lock(m_lock);
                if (m_tasks.empty())
                    return;
                task = std::move(m_tasks.front());
                m_tasks.pop_front();
            }
            task();
        }
    }
    size_t Pending() const
    {
        const std::lock_guard<std::mutex> lock(m_lock);
        return m_tasks.size();
    }

private:
    mutable std::mutex m_lock;
    std::deque<std::function<void()>> m_tasks;
};

} // namespace ImageViewer
