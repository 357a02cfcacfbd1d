#pragma once

#include <atomic>
#include <cstddef>

namespace ImageReader {

// How far a long open has got (pages of a page table, files of a folder listed), for a
// window that opens on another thread to show. Like StopToken, the job installs a counter
// for its thread, and loops deep inside the readers add to it; nothing is counted when the
// thread has none.
struct OpenProgress
{
    std::atomic<size_t> done{0};
};

namespace Detail {
inline thread_local OpenProgress* currentProgress = nullptr;
}

inline void AddProgress(size_t n)
{
    if (OpenProgress* p = Detail::currentProgress)
        p->done.fetch_add(n, std::memory_order_relaxed);
}

// Installs `progress` as the calling thread's for the scope's life (nested scopes restore).
class ProgressScope
{
public:
    explicit ProgressScope(OpenProgress* progress) : m_previous(Detail::currentProgress)
    {
        Detail::currentProgress = progress;
    }
    ~ProgressScope() { Detail::currentProgress = m_previous; }
    ProgressScope(const ProgressScope&) = delete;
    ProgressScope& operator=(const ProgressScope&) = delete;

private:
    OpenProgress* m_previous;
};

} // namespace ImageReader
