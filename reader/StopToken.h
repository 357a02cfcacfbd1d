#pragma once

#include <atomic>
#include <memory>

namespace ImageReader {

// Cooperative cancellation that reaches reads deep inside a source (a chunk fetch, a long
// decode) without widening every GetSlice signature: a job installs its token for the
// thread it runs on, and loops and network waits below poll StopRequested().
class StopToken
{
public:
    void RequestStop() { m_stop.store(true, std::memory_order_relaxed); }
    void Reset() { m_stop.store(false, std::memory_order_relaxed); }
    bool IsStopRequested() const { return m_stop.load(std::memory_order_relaxed); }

private:
    std::atomic<bool> m_stop{false};
};

namespace Detail {
inline thread_local const StopToken* currentStopToken = nullptr;
}

// The calling thread's token asks to stop (false when the thread has none).
inline bool StopRequested()
{
    const StopToken* t = Detail::currentStopToken;
    return t != nullptr && t->IsStopRequested();
}

// Installs `token` as the calling thread's for the scope's life (nested scopes restore).
class StopScope
{
public:
    explicit StopScope(const StopToken* token) : m_previous(Detail::currentStopToken)
    {
        Detail::currentStopToken = token;
    }
    ~StopScope() { Detail::currentStopToken = m_previous; }
    StopScope(const StopScope&) = delete;
    StopScope& operator=(const StopScope&) = delete;

private:
    const StopToken* m_previous;
};

} // namespace ImageReader
