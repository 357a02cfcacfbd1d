#include "SliceCache.h"

#include "StopToken.h"

#include <algorithm>
#include <malloc.h>
#include <unistd.h>

#include "ChunkStore.h"
#include "MemoryBudget.h"
#include "ViewBuffers.h"

namespace ImageReader {

template <class T>
size_t SliceCache<T>::DefaultBudget()
{
    return MemoryBudget();
}

template <class T>
SliceCache<T>::SliceCache(ImageBase<T>* image, size_t budgetBytes)
    : m_image(image), m_size(image->GetSize()), m_budget(budgetBytes ? budgetBytes : DefaultBudget())
{
}

template <class T>
SliceCache<T>::~SliceCache()
{
    Clear();
}

template <class T>
size_t SliceCache<T>::PlaneBytes() const
{
    if (m_size.size() < 2 || m_size[0] <= 0 || m_size[1] <= 0)
        return 0;
    return static_cast<size_t>(m_size[0]) * static_cast<size_t>(m_size[1]) * sizeof(T);
}

template <class T>
ImageSlice<T> SliceCache<T>::Peek(const Vector& position) const
{
    const std::lock_guard<std::mutex> lock(m_lock);
    const auto it = m_cache.find(position);
    return it != m_cache.end() ? it->second.slice : ImageSlice<T>();
}

template <class T>
ImageSlice<T> SliceCache<T>::GetSlice(const Vector& position)
{
    std::shared_ptr<Flight> flight;
    {
        std::unique_lock<std::mutex> lock(m_lock);
        for (;;) {
            auto it = m_cache.find(position);
            if (it != m_cache.end()) {
                m_lru.splice(m_lru.begin(), m_lru, it->second.lru);
                return it->second.slice;
            }
            const auto f = m_flights.find(position);
            if (f == m_flights.end())
                break;
            // Another thread is reading this plane: its result is this one's.
            const std::shared_ptr<Flight> other = f->second;
            m_landed.wait(lock, [&] { return other->done; });
            if (!other->stopped)
                return other->slice;
        }
        if (PlaneBytes() > m_budget.load()) {
            ++m_refused;
            return ImageSlice<T>();
        }
        flight = std::make_shared<Flight>();
        m_flights.emplace(position, flight);
    }
    ImageSlice<T> slice = readAndKeep(position);
    {
        const std::lock_guard<std::mutex> lock(m_lock);
        flight->slice = slice;
        flight->stopped = slice.IsEmpty() && StopRequested();
        flight->done = true;
        m_flights.erase(position);
    }
    m_landed.notify_all();
    return slice;
}

template <class T>
ImageSlice<T> SliceCache<T>::readAndKeep(const Vector& position)
{
    ImageSlice<T> slice = m_image->GetSlice(position);
    if (slice.IsEmpty()) {
        // A read given up for a stop request says nothing about the plane.
        if (!StopRequested())
            ++m_failures;
        return slice;
    }
    if (slice.IsBorrowed()) {
        noteBorrowed();
        return slice;
    }

    const Vector ss = slice.GetSize();
    size_t bytes = sizeof(T);
    for (unsigned i = 0; i < ss.size(); ++i)
        bytes *= static_cast<size_t>(ss[static_cast<int>(i)] > 0 ? ss[static_cast<int>(i)] : 0);

    std::unique_lock<std::mutex> lock(m_lock);
    const size_t budget = m_budget.load();
    if (bytes > budget)
        return slice;
    const bool trim = evictTo(budget - bytes);
    m_lru.push_front(position);
    m_cache.emplace(position, Entry{slice, bytes, m_lru.begin()});
    m_bytes += bytes;
    m_peak = std::max(m_peak, m_bytes);
    lock.unlock();
    if (trim)
        malloc_trim(0);
    return slice;
}

template <class T>
void SliceCache<T>::noteBorrowed()
{
    // Borrowed planes cost no private memory, but the mapped pages they touched count in
    // the process's resident memory until given back: every so often, they are.
    const size_t every = std::clamp<size_t>(m_budget.load() / 4, size_t(64) << 20, size_t(1) << 30);
    if (m_borrowedSinceRelease.fetch_add(PlaneBytes()) + PlaneBytes() >= every) {
        m_borrowedSinceRelease = 0;
        m_image->ReleaseMappedPages();
    }
}

template <class T>
ImageSlice<T> SliceCache<T>::GetBandSource(const Vector& position, bool rows, int a0, int a1)
{
    if (!m_image->ReadsBands())
        return GetSlice(position);
    ImageSlice<T> kept = Peek(position);
    if (!kept.IsEmpty())
        return kept;
    // Bands are not kept: a side view asks each plane for its band once. A plane the source
    // lends instead costs only the pages the view touches, which count as borrowed.
    ImageSlice<T> band = m_image->GetBandSource(position, rows, a0, a1);
    if (band.IsBorrowed())
        noteBorrowed();
    return band;
}

template <class T>
std::vector<ImageSlice<T>> SliceCache<T>::GetBandSources(const std::vector<Vector>& positions, bool rows, int a0, int a1)
{
    if (!m_image->ReadsBands())
        return ImageBase<T>::GetBandSources(positions, rows, a0, a1);
    std::vector<ImageSlice<T>> bands(positions.size());
    std::vector<Vector> missing;
    std::vector<size_t> at;
    for (size_t i = 0; i < positions.size(); ++i) {
        bands[i] = Peek(positions[i]);
        if (bands[i].IsEmpty()) {
            missing.push_back(positions[i]);
            at.push_back(i);
        }
    }
    std::vector<ImageSlice<T>> got = m_image->GetBandSources(missing, rows, a0, a1);
    for (size_t k = 0; k < got.size() && k < at.size(); ++k) {
        if (got[k].IsBorrowed())
            noteBorrowed();
        bands[at[k]] = std::move(got[k]);
    }
    return bands;
}

template <class T>
ImageSlice<T> SliceCache<T>::GetRows(const Vector& position, int y0, int y1)
{
    const ImageSlice<T> kept = Peek(position);
    if (!kept.IsEmpty())
        return ImageBase<T>::CutRows(kept, y0, y1);
    // A source that decodes bands alone is asked for the band, which is not kept: a side
    // view asks each plane for one row or column once. Other sources would read the whole
    // plane anyway, so it goes through the cache and its budget.
    if (!m_image->ReadsBands())
        return ImageBase<T>::CutRows(GetSlice(position), y0, y1);
    return m_image->GetRows(position, y0, y1);
}

template <class T>
ImageSlice<T> SliceCache<T>::GetColumns(const Vector& position, int x0, int x1)
{
    const ImageSlice<T> kept = Peek(position);
    if (!kept.IsEmpty())
        return ImageBase<T>::CutColumns(kept, x0, x1);
    if (!m_image->ReadsBands())
        return ImageBase<T>::CutColumns(GetSlice(position), x0, x1);
    return m_image->GetColumns(position, x0, x1);
}

namespace {
// Trimming walks the heap; once per this much evicted keeps its cost negligible.
constexpr size_t kTrimEvery = size_t(64) << 20;
} // namespace

template <class T>
bool SliceCache<T>::evictTo(size_t limit)
{
    while (m_bytes > limit && !m_lru.empty()) {
        auto it = m_cache.find(m_lru.back());
        m_bytes -= it->second.bytes;
        m_evictedSinceTrim += it->second.bytes;
        m_cache.erase(it);
        m_lru.pop_back();
    }
    if (m_evictedSinceTrim < kTrimEvery)
        return false;
    m_evictedSinceTrim = 0;
    return true;
}

template <class T>
void SliceCache<T>::SetBudget(size_t budgetBytes)
{
    bool trim;
    {
        const std::lock_guard<std::mutex> lock(m_lock);
        m_budget = budgetBytes ? budgetBytes : DefaultBudget();
        trim = evictTo(m_budget.load());
    }
    if (trim)
        malloc_trim(0);
}

template <class T>
void SliceCache<T>::Clear()
{
    std::map<Vector, Entry, VectorCompare> dropped;
    {
        const std::lock_guard<std::mutex> lock(m_lock);
        dropped.swap(m_cache);
        m_lru.clear();
        m_bytes = 0;
    }
    dropped.clear();
    // Likewise the views' and the chunks' waiting buffers; and glibc keeps freed plane-sized
    // blocks for reuse: hand them back now that a whole image's planes are gone.
    ViewBuffers::Drop();
    ChunkBufferPool::Shared().Drop();
    malloc_trim(0);
}

template <class T>
size_t SliceCache<T>::GetCount() const
{
    const std::lock_guard<std::mutex> lock(m_lock);
    return m_cache.size();
}

template <class T>
size_t SliceCache<T>::GetBytes() const
{
    const std::lock_guard<std::mutex> lock(m_lock);
    return m_bytes;
}

template <class T>
size_t SliceCache<T>::GetPeakBytes() const
{
    const std::lock_guard<std::mutex> lock(m_lock);
    return m_peak;
}

template class SliceCache<unsigned short>;

} // namespace ImageReader
